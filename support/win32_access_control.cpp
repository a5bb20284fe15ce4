#include "support/win32_access_control.h"

// aclapi.h needs windows.h first.
#include <aclapi.h>

#include <cstring>

namespace quelvane {

std::vector<unsigned char> OwnAccessControl(HANDLE model) {
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(model, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                          nullptr, &descriptor) != ERROR_SUCCESS) {
        return {};
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    bool own = (control & SE_DACL_PROTECTED) != 0;
    ACL_SIZE_INFORMATION size{};
    if (list != nullptr && ::GetAclInformation(list, &size, sizeof size, AclSizeInformation) != 0) {
        for (DWORD k = 0; k < size.AceCount && !own; ++k) {
            void* entry = nullptr;
            own = ::GetAce(list, k, &entry) != 0 &&
                  (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) == 0;
        }
    }
    std::vector<unsigned char> copy;
    if (own) {
        copy.resize(::GetSecurityDescriptorLength(descriptor));
        std::memcpy(copy.data(), descriptor, copy.size());
    }
    ::LocalFree(descriptor);
    return copy;
}

}  // namespace quelvane
