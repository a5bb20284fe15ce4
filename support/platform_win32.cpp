// The platform seam on Windows (kernel32 and user32): the product's own build.
#include <windows.h>
// aclapi.h needs windows.h first.
#include <aclapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/platform.h"

namespace quelvane {
namespace {

HANDLE Win(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}
SystemError LastError() {
    return static_cast<SystemError>(::GetLastError());
}

FileHandle Refused(SystemError reason, SystemError* error) {
    if (error != nullptr)
        *error = reason;
    return kNoFile;
}

FileHandle Opened(HANDLE handle, SystemError* error) {
    if (handle != INVALID_HANDLE_VALUE)
        return reinterpret_cast<FileHandle>(handle);
    if (error != nullptr)
        *error = LastError();
    return kNoFile;
}

// Whether a refusal may come from a passing holder: a virus scanner or an indexer holding a fresh
// file for a moment, or a name whose delete is still under way.
bool Passing(SystemError error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

// Runs `attempt` (true on success) until it succeeds, or fails for a reason other than
// `retryOn`, or about 2 s have gone by. Returns the last error, 0 on success.
template <typename Attempt, typename RetryOn>
SystemError Retried(Attempt attempt, RetryOn retryOn) {
    constexpr DWORD kRetryForMs = 2000, kStepMs = 50;
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (attempt())
            return 0;
        const SystemError error = LastError();
        if (!retryOn(error) || ::GetTickCount() - start >= kRetryForMs)
            return error;
        ::Sleep(kStepMs);
    }
}

// CreateFileA, retried while refused as `retryOn` says.
template <typename RetryOn>
HANDLE RetriedCreate(const std::string& name, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags, RetryOn retryOn, SystemError* error) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    const SystemError failed = Retried(
        [&] {
            handle =
                ::CreateFileA(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
            return handle != INVALID_HANDLE_VALUE;
        },
        retryOn);
    if (failed != 0 && error != nullptr)
        *error = failed;
    ::SetLastError(failed);
    return handle;
}

bool Sharing(SystemError error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Renames the open file `file` (opened with DELETE access) to `name`, replacing whatever the
// name is as a name: a link included, even where Wine shows a link as the file it points to.
bool RenameOpenFile(HANDLE file, const std::string& name) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return false;
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                      static_cast<std::size_t>(length) * sizeof(WCHAR));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
    ::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, info->FileName, length);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info,
                                        static_cast<DWORD>(buffer.size())) != 0;
}

// The target's access-control list, given to `file` when it is set on the target itself (not
// only handed down by its folder). A process that may not read or set it goes on without it.
SystemError KeepAccessControl(HANDLE model, HANDLE file) {
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(model, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                          nullptr, &descriptor) != ERROR_SUCCESS) {
        return 0;
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
    DWORD result = ERROR_SUCCESS;
    if (own) {
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION |
            ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                : UNPROTECTED_DACL_SECURITY_INFORMATION);
        result = ::SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, list, nullptr);
    }
    ::LocalFree(descriptor);
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED ||
                   result == ERROR_PRIVILEGE_NOT_HELD
               ? 0
               : static_cast<SystemError>(result);
}

class Win32Platform final : public Platform {
  public:
    // A symbolic link as the target is replaced as a name, as Windows' own tools replace it:
    // the name is the final one, in the current directory.
    SystemError Resolve(std::string_view name, FinalPlace* place) override {
        place->Directory = kCurrentDirectory;
        place->Name = name;
        return 0;
    }
    void CloseDirectory(DirectoryHandle) override {}

    // A named mutex of the folder's identity (its volume's serial number and its file index), so
    // that every spelling of the folder's path meets the same one; it is taken without waiting,
    // by the run's thread, and Windows releases it when that thread or the process ends, however.
    // In the Global namespace, so that runs of other users' sessions meet it too; one made by
    // another user that this one may not open is a run in progress as well. Windows has no
    // shared run (no dry run), so `exclusive` changes nothing here.
    SystemError Lock(const FinalPlace&, bool, LockHandle* lock) override {
        const HANDLE folder =
            ::CreateFileA(".", FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder == INVALID_HANDLE_VALUE)
            return LastError();
        BY_HANDLE_FILE_INFORMATION about{};
        const bool known = ::GetFileInformationByHandle(folder, &about) != 0;
        const SystemError error = LastError();
        ::CloseHandle(folder);
        if (!known)
            return error;
        char name[80];
        std::snprintf(name, sizeof name, "Global\\Quelvane-%08lX-%08lX%08lX",
                      static_cast<unsigned long>(about.dwVolumeSerialNumber),
                      static_cast<unsigned long>(about.nFileIndexHigh),
                      static_cast<unsigned long>(about.nFileIndexLow));
        const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
        if (mutex == nullptr)
            return ::GetLastError() == ERROR_ACCESS_DENIED ? kRunInProgress : LastError();
        const DWORD taken = ::WaitForSingleObject(mutex, 0);
        if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) {  // abandoned: its run died
            ::CloseHandle(mutex);
            return kRunInProgress;
        }
        *lock = reinterpret_cast<LockHandle>(mutex);
        return 0;
    }

    void Unlock(LockHandle lock) override {
        if (lock == kNoLock)
            return;
        ::ReleaseMutex(reinterpret_cast<HANDLE>(lock));
        ::CloseHandle(reinterpret_cast<HANDLE>(lock));
    }

    // The target is opened with delete access too, so that a program that holds it without
    // sharing delete, and so would refuse the replace at the end, is found here, before any byte
    // is written. A passing holder is waited for, about 2 s.
    FileHandle OpenExisting(DirectoryHandle, std::string_view name, OpenMode mode,
                            SystemError* error) override {
        const DWORD access =
            mode == OpenMode::ReadWrite ? GENERIC_READ | GENERIC_WRITE | DELETE : GENERIC_READ;
        const std::string path(name);
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return Refused(kNotRegularFile, error);
        const FileHandle file = Opened(RetriedCreate(path, access, FILE_SHARE_READ, OPEN_EXISTING,
                                                     FILE_ATTRIBUTE_NORMAL, Sharing, error),
                                       error);
        // A device (a name such as CON or NUL that Windows maps to one) is not a file either.
        if (file != kNoFile && ::GetFileType(Win(file)) != FILE_TYPE_DISK) {
            ::CloseHandle(Win(file));
            return Refused(kNotRegularFile, error);
        }
        return file;
    }

    // A read-only file, a folder under the temporary file's name and a disk too full for the
    // result are what refuse writing before an open or a create tries.
    SystemError CanWrite(DirectoryHandle, std::string_view name, std::string_view temporary,
                         std::int64_t bytes) override {
        const DWORD attributes = ::GetFileAttributesA(std::string(name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return LastError();
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
            return ERROR_ACCESS_DENIED;
        const DWORD taken = ::GetFileAttributesA(std::string(temporary).c_str());
        if (taken != INVALID_FILE_ATTRIBUTES && (taken & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return kTemporaryIsDirectory;
        ULARGE_INTEGER free{};
        if (::GetDiskFreeSpaceExA(nullptr, &free, nullptr, nullptr) == 0)
            return LastError();
        return free.QuadPart < static_cast<std::uint64_t>(bytes) ? ERROR_DISK_FULL : 0;
    }

    // CREATE_NEW fails on any existing name, a link included, instead of opening it. A name
    // whose delete is still under way refuses the create for a moment. WRITE_DAC lets
    // KeepAttributes give the file the target's access-control list; where a folder grants the
    // creator less, the file is made without it, and keeps the folder's list.
    FileHandle CreateNew(DirectoryHandle, std::string_view name, SystemError* error) override {
        const std::string path(name);
        HANDLE file = INVALID_HANDLE_VALUE;
        const auto create = [&](DWORD access) {
            file = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            return file != INVALID_HANDLE_VALUE;
        };
        const SystemError failed = Retried(
            [&] {
                return create(GENERIC_READ | GENERIC_WRITE | WRITE_DAC) ||
                       (::GetLastError() == ERROR_ACCESS_DENIED &&
                        create(GENERIC_READ | GENERIC_WRITE));
            },
            Passing);
        ::SetLastError(failed);
        return Opened(file, error);
    }

    Transfer Read(FileHandle file, void* buffer, std::uint32_t size) override {
        DWORD moved = 0;
        Transfer result;
        if (::ReadFile(Win(file), buffer, size, &moved, nullptr) == 0)
            result.error = LastError();
        result.moved = moved;
        return result;
    }

    // A synchronous handle reads at the position an OVERLAPPED names, in the same call.
    Transfer ReadAt(FileHandle file, std::int64_t position, void* buffer,
                    std::uint32_t size) override {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(position));
        at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(position) >> 32);
        DWORD moved = 0;
        Transfer result;
        if (::ReadFile(Win(file), buffer, size, &moved, &at) == 0) {
            result.error = LastError();
            if (result.error == ERROR_HANDLE_EOF)
                result.error = 0;  // past the end: a short read, as a plain read reports it
        }
        result.moved = moved;
        return result;
    }

    // Windows has no scattered read for buffered files: one read into a buffer of this platform's
    // own, then the parts. The buffer grows to the largest read asked for (1 MiB in a run).
    Transfer ReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                           std::size_t count) override {
        std::uint32_t total = 0;
        for (std::size_t k = 0; k < count; ++k)
            total += parts[k].Size;
        if (scattered_.size() < total)
            scattered_.resize(total);
        const Transfer result = ReadAt(file, position, scattered_.data(), total);
        std::uint32_t at = 0;
        for (std::size_t k = 0; k < count && at < result.moved; ++k) {
            const std::uint32_t size = std::min(parts[k].Size, result.moved - at);
            std::memcpy(parts[k].Buffer, scattered_.data() + at, size);
            at += size;
        }
        return result;
    }

    Transfer Write(FileHandle file, const void* buffer, std::uint32_t size) override {
        DWORD moved = 0;
        Transfer result;
        if (::WriteFile(Win(file), buffer, size, &moved, nullptr) == 0)
            result.error = LastError();
        result.moved = moved;
        return result;
    }

    Transfer CopyRange(FileHandle, std::int64_t, FileHandle, std::uint32_t) override {
        return Transfer{kCopyUnsupported, 0};  // Windows has no in-kernel copy between handles
    }

    SystemError Seek(FileHandle file, std::int32_t position) override {
        ::SetLastError(NO_ERROR);
        if (::SetFilePointer(Win(file), position, nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER) {
            return LastError();  // NO_ERROR when the position merely equals 0xFFFFFFFF
        }
        return 0;
    }

    SystemError Size(FileHandle file, std::int64_t* size) override {
        LARGE_INTEGER value{};
        if (::GetFileSizeEx(Win(file), &value) == 0)
            return LastError();
        *size = value.QuadPart;
        return 0;
    }

    SystemError Flush(FileHandle file) override {
        return ::FlushFileBuffers(Win(file)) == 0 ? LastError() : 0;
    }

    SystemError Close(FileHandle file) override {
        return ::CloseHandle(Win(file)) == 0 ? LastError() : 0;
    }

    // The attributes a user sets (hidden, system, archive, not content indexed) and the creation
    // time, then the access-control list. Read-only cannot occur: such a target is not opened
    // for writing.
    SystemError KeepAttributes(FileHandle model, FileHandle file) override {
        BY_HANDLE_FILE_INFORMATION about{};
        if (::GetFileInformationByHandle(Win(model), &about) == 0)
            return LastError();
        constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        FILE_BASIC_INFO basic{};  // times of 0 stay as they are
        basic.CreationTime.LowPart = about.ftCreationTime.dwLowDateTime;
        basic.CreationTime.HighPart = static_cast<LONG>(about.ftCreationTime.dwHighDateTime);
        basic.FileAttributes = (about.dwFileAttributes & kKept) != 0
                                   ? about.dwFileAttributes & kKept
                                   : FILE_ATTRIBUTE_NORMAL;
        if (::SetFileInformationByHandle(Win(file), FileBasicInfo, &basic, sizeof basic) == 0)
            return LastError();
        return KeepAccessControl(Win(model), Win(file));
    }

    // Windows replaces the name itself, never through a link, and holds no directory open: the
    // name is the one the target was opened by.
    SystemError StillNames(DirectoryHandle, std::string_view, FileHandle) override { return 0; }

    // MoveFileEx replaces in one step; write-through returns only once the move is on disk.
    SystemError Replace(DirectoryHandle, std::string_view replacement,
                        std::string_view target) override {
        const std::string from(replacement), to(target);
        return Retried(
            [&] {
                return ::MoveFileExA(from.c_str(), to.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            },
            Passing);
    }

    // The run's own file, never a link: a plain delete, which needs no new directory entry.
    SystemError Remove(DirectoryHandle, std::string_view name) override {
        const std::string path(name);
        const SystemError error =
            Retried([&] { return ::DeleteFileA(path.c_str()) != 0; }, Passing);
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }

    // Windows deletes a link itself, but Wine shows a Unix symbolic link as the file it points
    // to (or, dangling, as nothing) and would delete that file instead. So a new empty file of
    // this run's own, marked to be deleted when closed, is renamed over the name through its
    // handle, which replaces whatever the name was, a link included, as a name; closing it then
    // deletes it. Its name is unique to this process, and the system closes the handle however
    // the process ends, so nothing of it can stay behind to stop a later run.
    SystemError RemoveStale(DirectoryHandle, std::string_view name) override {
        const std::string path(name);
        // A folder of that name is someone's: it refuses the run at once, and stays.
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                FILE_ATTRIBUTE_DIRECTORY) {
            return kTemporaryIsDirectory;
        }
        HANDLE cover = INVALID_HANDLE_VALUE;
        SystemError error = 0;
        for (unsigned attempt = 0; cover == INVALID_HANDLE_VALUE && attempt < 16; ++attempt) {
            const std::string coverName = path + "." + std::to_string(::GetCurrentProcessId()) +
                                          "-" + std::to_string(attempt) + ".gone";
            error = 0;
            cover =
                RetriedCreate(coverName, GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, Passing, &error);
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                break;
        }
        if (cover == INVALID_HANDLE_VALUE)
            return error;
        error = Retried([&] { return RenameOpenFile(cover, path); }, Passing);
        ::CloseHandle(cover);
        return error;
    }

    void ShowMessage(WindowHandle owner, std::string_view text, std::string_view caption,
                     std::uint32_t style) override {
        ::MessageBoxA(static_cast<HWND>(owner), std::string(text).c_str(),
                      std::string(caption).c_str(), style);
    }

    void Pause(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

    [[noreturn]] void EndProcess(std::uint32_t exitCode) override { ::ExitProcess(exitCode); }

  private:
    std::vector<unsigned char> scattered_;
};

}  // namespace

Platform& NativePlatform() {
    static Win32Platform platform;
    return platform;
}

}  // namespace quelvane
