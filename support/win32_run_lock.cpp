#include "support/win32_run_lock.h"

#include <cstring>
#include <string>

#include "support/win32_retry.h"

namespace quelvane {

FileIdentity IdentityOf(HANDLE file) {
    FileIdentity identity;
    struct {
        ULONGLONG VolumeSerialNumber;
        unsigned char FileId[16];
    } id{};
    constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
    if (::GetFileInformationByHandleEx(file, kFileIdInfo, &id, sizeof id) != 0) {
        identity.Volume = id.VolumeSerialNumber;
        std::memcpy(identity.Id, id.FileId, sizeof id.FileId);
    }
    BY_HANDLE_FILE_INFORMATION about{};
    if (::GetFileInformationByHandle(file, &about) != 0) {
        identity.OldVolume = about.dwVolumeSerialNumber;
        identity.Index =
            (static_cast<std::uint64_t>(about.nFileIndexHigh) << 32) | about.nFileIndexLow;
    }
    std::string path(32768, '\0');
    const DWORD length =
        ::GetFinalPathNameByHandleA(file, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length > 0 && length < path.size())
        identity.Path = path.substr(0, length);
    return identity;
}

SystemError TakeRunLock(LockHandle* lock) {
    const HANDLE folder = ::CreateFileA(
        ".", FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return LastError();
    const std::string name = LockName(IdentityOf(folder));
    ::CloseHandle(folder);
    if (name.empty())
        return ERROR_INVALID_DATA;
    const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
    if (mutex == nullptr)
        return LastError();
    const DWORD taken = ::WaitForSingleObject(mutex, 0);
    if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) {  // abandoned: its run died
        const SystemError refused = taken == WAIT_FAILED ? LastError() : kRunInProgress;
        ::CloseHandle(mutex);
        return refused;
    }
    *lock = reinterpret_cast<LockHandle>(mutex);
    return 0;
}

void ReleaseRunLock(LockHandle lock) {
    if (lock == kNoLock)
        return;
    ::ReleaseMutex(reinterpret_cast<HANDLE>(lock));
    ::CloseHandle(reinterpret_cast<HANDLE>(lock));
}

}  // namespace quelvane
