// Windows: renaming and deleting an open file through its handle, with every option the file
// system has, and reading the name a handle has now.
#include "support/win32_by_handle.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "support/win32_retry.h"

namespace quelvane {
namespace {

// ntdll's NtSetInformationFile (documented in the Windows Driver Kit; ntdll is in every process):
// the one call that renames and deletes through a handle with every option the file system has.
// kernel32's SetFileInformationByHandle passes the newer options on only from Windows 10 1709,
// and Wine's not at all. Looked up once; an ntdll without it (none is known) renames nothing.
using NtStatus = LONG;
struct IoStatus {
    union {
        NtStatus Status;
        void* Pointer;
    };
    ULONG_PTR Information;
};
using SetInformationCall = NtStatus(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, ULONG);
using StatusToErrorCall = ULONG(WINAPI*)(NtStatus);
struct NtCalls {
    SetInformationCall SetInformation = nullptr;
    StatusToErrorCall ToError = nullptr;
};
const NtCalls& Nt() {
    static const NtCalls calls = [] {
        NtCalls found;
        const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        const auto look = [&](const char* name) {
            return reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, name));
        };
        found.SetInformation = reinterpret_cast<SetInformationCall>(look("NtSetInformationFile"));
        found.ToError = reinterpret_cast<StatusToErrorCall>(look("RtlNtStatusToDosError"));
        return found;
    }();
    return calls;
}

// NtSetInformationFile through `file`: 0, or the Windows error its status stands for.
SystemError SetInformation(HANDLE file, void* information, ULONG size, ULONG informationClass) {
    const NtCalls& nt = Nt();
    if (nt.SetInformation == nullptr || nt.ToError == nullptr)
        return ERROR_CALL_NOT_IMPLEMENTED;
    IoStatus status{};
    const NtStatus result = nt.SetInformation(file, &status, information, size, informationClass);
    return result >= 0 ? 0 : static_cast<SystemError>(nt.ToError(result));
}

// The information classes and flags (ntifs.h), which the headers for applications lack.
constexpr ULONG kFileRenameInformation = 10, kFileDispositionInformation = 13,
                kFileDispositionInformationEx = 64, kFileRenameInformationEx = 65;
constexpr ULONG kRenameReplaceIfExists = 0x1, kRenamePosixSemantics = 0x2,
                kRenameIgnoreReadOnly = 0x40;
constexpr ULONG kDispositionDelete = 0x1, kDispositionPosixSemantics = 0x2;

// FILE_RENAME_INFORMATION as the process itself lays it out: a 32-bit process passes 4-byte
// handles and the system's 32-bit layer (WOW64) widens the structure for the kernel, as it does
// for every information class that carries a handle. The first member is the classic call's
// BOOLEAN ReplaceIfExists (then 3 bytes of padding) or the Ex call's ULONG Flags.
struct RenameInformation {
    ULONG Flags;
    HANDLE RootDirectory;
    ULONG FileNameLength;
    WCHAR FileName[1];
};
// The layout the system reads: 0, 4, 8, 12 in a 32-bit process; 0, 8, 16, 20 in a 64-bit one.
static_assert(offsetof(RenameInformation, Flags) == 0);
static_assert(offsetof(RenameInformation, RootDirectory) == sizeof(void*));
static_assert(offsetof(RenameInformation, FileNameLength) == 2 * sizeof(void*));
static_assert(offsetof(RenameInformation, FileName) == 2 * sizeof(void*) + 4);

// Whether a refusal says the system or file system does not know the call or a flag (Windows
// before 10, FAT, SMB, Wine), rather than anything about the files.
bool Unsupported(SystemError error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED;
}

// The ways to rename through a handle, best first (see RenameOver), and the one the last rename
// took; tests may leave the first ones out, as a system without them would.
RenameWay lastRenameWay = RenameWay::None;
int firstRenameWay = 0;
SystemError refuseWaysWith = 0, reportDoneAs = 0;  // the tests' answers (RefuseRenameWaysWith)
bool refuseFolders = false;
SystemError refuseDispositionWith = 0;

// `text` in UTF-16, as the system's own calls take names; empty when it cannot be converted.
std::wstring Wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 1)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

// The current folder's `name` as a full path of the system's own namespace ("\??\C:\...",
// "\??\UNC\server\share\..."), for a rename relative to no folder handle: no length limit
// applies to it, and Windows and Wine read it alike.
std::wstring FullNtPath(const std::string& name) {
    const std::wstring relative = Wide(name);
    const DWORD length = ::GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
    if (relative.empty() || length == 0)
        return {};
    std::wstring full(length, L'\0');
    full.resize(::GetFullPathNameW(relative.c_str(), length, full.data(), nullptr));
    if (full.rfind(L"\\\\?\\", 0) == 0)
        return L"\\??\\" + full.substr(4);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\??\\UNC\\" + full.substr(2);
    return L"\\??\\" + full;
}

// Renames the open file `file` (opened with DELETE access) to `name` in the folder `folder`,
// replacing whatever the name is as a name: a link included, even where Wine shows a link as the
// file it points to. The name is given relative to the folder's handle, so that no path is
// built (none can be too long) and the folder is the one the run holds, whatever its path does.
SystemError RenameOpenFile(HANDLE file, HANDLE folder, const std::string& name, RenameWay way) {
    if (refuseWaysWith != 0 && way != RenameWay::Classic)
        return refuseWaysWith;
    const std::wstring target = folder != nullptr ? Wide(name) : FullNtPath(name);
    if (target.empty())
        return LastError();
    std::vector<unsigned char> buffer(offsetof(RenameInformation, FileName) +
                                      (target.size() + 1) * sizeof(WCHAR));
    auto* info = reinterpret_cast<RenameInformation*>(buffer.data());
    info->Flags = way == RenameWay::PosixIgnoringReadOnly
                      ? kRenameReplaceIfExists | kRenamePosixSemantics | kRenameIgnoreReadOnly
                  : way == RenameWay::Posix ? kRenameReplaceIfExists | kRenamePosixSemantics
                                            : TRUE;  // ReplaceIfExists
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<ULONG>(target.size() * sizeof(WCHAR));
    std::memcpy(info->FileName, target.c_str(), (target.size() + 1) * sizeof(WCHAR));
    const SystemError error = SetInformation(
        file, info, static_cast<ULONG>(buffer.size()),
        way == RenameWay::Classic ? kFileRenameInformation : kFileRenameInformationEx);
    return error == 0 ? reportDoneAs : error;
}

}  // namespace

Named NameOf(HANDLE file, const std::string& name) {
    std::vector<unsigned char> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(WCHAR));
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (::GetFileInformationByHandleEx(file, FileNameInfo, info,
                                       static_cast<DWORD>(buffer.size())) == 0)
        return Named::Unknown;
    const std::wstring path(info->FileName, info->FileNameLength / sizeof(WCHAR));
    const std::wstring leaf = path.substr(path.find_last_of(L"\\/") + 1);
    const std::wstring wanted = Wide(name);
    return ::CompareStringOrdinal(leaf.c_str(), static_cast<int>(leaf.size()), wanted.c_str(),
                                  static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL
               ? Named::Is
               : Named::Other;
}

SystemError RenameOver(HANDLE file, HANDLE folder, const std::string& name) {
    SystemError first = 0, error = 0;
    for (int way = firstRenameWay; way <= static_cast<int>(RenameWay::Classic); ++way) {
        const auto taken = static_cast<RenameWay>(way);
        error = Retried(
            [&] {
                const SystemError refused = RenameOpenFile(file, folder, name, taken);
                ::SetLastError(refused);
                return refused == 0;
            },
            Passing);
        if (error == 0 || NameOf(file, name) == Named::Is) {
            lastRenameWay = taken;
            return 0;
        }
        if (first == 0 && !Unsupported(error))
            first = error;
    }
    return first != 0 ? first : error;
}

SystemError MarkForDeletion(HANDLE file) {
    ULONG flags = kDispositionDelete | kDispositionPosixSemantics;
    const SystemError error =
        refuseDispositionWith != 0
            ? refuseDispositionWith
            : SetInformation(file, &flags, sizeof flags, kFileDispositionInformationEx);
    if (error == 0)
        return 0;
    BOOLEAN remove = TRUE;
    const SystemError classic =
        SetInformation(file, &remove, sizeof remove, kFileDispositionInformation);
    return classic == 0 ? 0 : !Unsupported(error) ? error : classic;
}

HANDLE Folder::OpenFolder(const char* path) {
    if (refuseFolders) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileA(path, FILE_TRAVERSE | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

RenameWay LastRenameWay() {
    return lastRenameWay;
}
void StartRenamesAt(RenameWay way) {
    firstRenameWay = static_cast<int>(way);
}
void RefuseRenameWaysWith(std::uint32_t code) {
    refuseWaysWith = code;
}
void ReportDoneRenamesAs(std::uint32_t code) {
    reportDoneAs = code;
}
void RefuseExDispositionWith(std::uint32_t code) {
    refuseDispositionWith = code;
}
void RefuseFolderHandles(bool refuse) {
    refuseFolders = refuse;
}

}  // namespace quelvane
