// The platform seam on Windows (kernel32 and user32): the product's own build. The files are
// here; renaming and deleting through a handle, the run's lock, the access-control list and the
// retries of passing refusals have files of their own (win32_*.h).
#include <windows.h>
// winioctl.h needs windows.h first.
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "support/file_identity.h"
#include "support/platform.h"
#include "support/rename_ways_win32.h"
#include "support/win32_access_control.h"
#include "support/win32_by_handle.h"
#include "support/win32_retry.h"
#include "support/win32_run_lock.h"

namespace quelvane {
namespace {

HANDLE Win(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
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

class Win32Platform final : public Platform {
  public:
    // A symbolic link as the target is replaced as a name, as Windows' own tools replace it:
    // the name is the final one, in the current directory. The folder is held open for the
    // run, for the renames to name things relative to; names are otherwise the current
    // directory's, which is the same folder (Windows keeps the current directory open).
    SystemError Resolve(std::string_view name, FinalPlace* place) override {
        const HANDLE folder = Folder::OpenFolder(".");
        place->Directory = folder != INVALID_HANDLE_VALUE
                               ? reinterpret_cast<DirectoryHandle>(folder)
                               : kCurrentDirectory;
        place->Name = name;
        return 0;
    }
    void CloseDirectory(DirectoryHandle directory) override {
        if (directory != kCurrentDirectory)
            ::CloseHandle(reinterpret_cast<HANDLE>(directory));
    }

    // The run's lock (see win32_run_lock.h); Windows has no shared run (no dry run), so
    // `exclusive` changes nothing here.
    SystemError Lock(const FinalPlace&, bool, LockHandle* lock) override {
        return TakeRunLock(lock);
    }
    void Unlock(LockHandle lock) override { ReleaseRunLock(lock); }

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
    WriteProbe CanWrite(DirectoryHandle, std::string_view name, std::string_view temporary,
                        std::int64_t bytes) override {
        WriteProbe probe;
        const DWORD taken = ::GetFileAttributesA(std::string(temporary).c_str());
        const bool folder = taken != INVALID_FILE_ATTRIBUTES && (taken & FILE_ATTRIBUTE_DIRECTORY);
        probe.StaleTemporary = taken != INVALID_FILE_ATTRIBUTES && !folder;
        const DWORD attributes = ::GetFileAttributesA(std::string(name).c_str());
        ULARGE_INTEGER free{};
        if (attributes == INVALID_FILE_ATTRIBUTES)
            probe.Error = LastError();
        else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
            probe.Error = ERROR_ACCESS_DENIED;
        else if (folder)
            probe.Error = kTemporaryIsDirectory;
        else if (::GetDiskFreeSpaceExA(nullptr, &free, nullptr, nullptr) == 0)
            probe.Error = LastError();
        else if (free.QuadPart < static_cast<std::uint64_t>(bytes))
            probe.Error = ERROR_DISK_FULL;
        return probe;
    }

    // CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT fails on any existing name, a link included
    // and a dangling one too, instead of opening or following it. A name whose delete is still
    // under way refuses the create for a moment. The new file shares delete, so that the
    // classic rename can move it while it is open, and takes the target's own access-control
    // list at its birth, and its encryption: it never exists with broader rights or in plain
    // text. A compressed target's compression follows right after, where the file system has it.
    FileHandle CreateNew(DirectoryHandle, std::string_view name, FileHandle model,
                         SystemError* error) override {
        const std::string path(name);
        BY_HANDLE_FILE_INFORMATION about{};
        if (model == kNoFile || ::GetFileInformationByHandle(Win(model), &about) == 0)
            about.dwFileAttributes = 0;
        std::vector<unsigned char> rules =
            model == kNoFile ? std::vector<unsigned char>() : OwnAccessControl(Win(model));
        SECURITY_ATTRIBUTES security{sizeof security, rules.empty() ? nullptr : rules.data(),
                                     FALSE};
        const DWORD flags =
            FILE_FLAG_OPEN_REPARSE_POINT | (about.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) |
            ((about.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0 ? 0 : FILE_ATTRIBUTE_NORMAL);
        HANDLE file = INVALID_HANDLE_VALUE;
        const SystemError failed = Retried(
            [&] {
                file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, &security, CREATE_NEW,
                                     flags, nullptr);
                return file != INVALID_HANDLE_VALUE;
            },
            Passing);
        if (failed == ERROR_FILE_EXISTS || failed == ERROR_ALREADY_EXISTS)
            return Refused(kNameTaken, error);
        if (file != INVALID_HANDLE_VALUE &&
            (about.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) != 0) {
            USHORT format = COMPRESSION_FORMAT_DEFAULT;
            DWORD returned = 0;
            (void)::DeviceIoControl(file, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                                    &returned, nullptr);
        }
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
    Transfer CopyRanges(const FileRange*, std::size_t, FileHandle) override {
        return Transfer{kCopyUnsupported, 0};
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
    // time, as far as the file system takes them: one that refuses them (some network shares,
    // WebDAV) does not refuse the run. Read-only cannot occur: such a target is not opened for
    // writing. The access-control list came with the create.
    SystemError KeepAttributes(FileHandle model, FileHandle file) override {
        BY_HANDLE_FILE_INFORMATION about{};
        if (::GetFileInformationByHandle(Win(model), &about) == 0)
            return 0;
        // "Always keep on this device" and "Free up space" (OneDrive's pinned and unpinned)
        // are the user's choices too.
        constexpr DWORD kPinned = 0x00080000, kUnpinned = 0x00100000;
        constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                kPinned | kUnpinned;
        FILE_BASIC_INFO basic{};  // times of 0 stay as they are
        basic.CreationTime.LowPart = about.ftCreationTime.dwLowDateTime;
        basic.CreationTime.HighPart = static_cast<LONG>(about.ftCreationTime.dwHighDateTime);
        basic.FileAttributes = (about.dwFileAttributes & kKept) != 0
                                   ? about.dwFileAttributes & kKept
                                   : FILE_ATTRIBUTE_NORMAL;
        (void)::SetFileInformationByHandle(Win(file), FileBasicInfo, &basic, sizeof basic);
        return 0;
    }

    SystemError KeepTimes(FileHandle model, FileHandle file) override {
        FILETIME accessed{}, written{};
        if (::GetFileTime(Win(model), nullptr, &accessed, &written) == 0)
            return LastError();
        return ::SetFileTime(Win(file), nullptr, &accessed, &written) == 0 ? LastError() : 0;
    }

    // Names are the current folder's here, as everywhere in this implementation. A reparse
    // point (a symbolic link, a junction) is a link, whatever it points to.
    SystemError KindOf(DirectoryHandle, std::string_view name, NameKind* kind) override {
        *kind = NameKind::Nothing;
        const DWORD attributes = ::GetFileAttributesA(std::string(name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
        }
        *kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? NameKind::Link
                : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? NameKind::Directory
                                                                 : NameKind::RegularFile;
        return 0;
    }

    // The window keeps no backup, the only user of a second name: a copy serves anywhere else.
    SystemError LinkFile(FileHandle, DirectoryHandle, std::string_view) override {
        return kLinkUnsupported;
    }

    // The name, followed as the load followed it (a link to the loaded file is that file), must
    // still lead to the file that was loaded: a link or a file swapped in during the run is
    // left alone, and the run refused (Windows then replaces the name itself, a link as a name).
    SystemError StillNames(DirectoryHandle, std::string_view name, FileHandle file) override {
        const HANDLE named = ::CreateFileA(std::string(name).c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, 0, nullptr);
        if (named == INVALID_HANDLE_VALUE)
            return LastError();
        const bool same = SameFile(IdentityOf(named), IdentityOf(Win(file)));
        ::CloseHandle(named);
        return same ? 0 : kNameMoved;
    }

    // Through the new file's own handle, always (see RenameOver): with POSIX semantics where the
    // system has them, a holder of the target that shares delete keeps the old file and no
    // longer refuses the replace. NTFS logs the rename, and the flush of the renamed file that
    // follows writes that log out up to it, as MOVEFILE_WRITE_THROUGH would. Refused, the new
    // file is marked for deletion through the same handle before it is closed: no name is ever
    // reached again once the handle has gone.
    SystemError Replace(DirectoryHandle directory, FileHandle file, std::string_view temporary,
                        std::string_view target, ReplaceStage* stage) override {
        *stage = ReplaceStage::NotReplaced;
        const Folder folder(directory);
        const SystemError error = RenameOver(Win(file), folder.Handle(), std::string(target));
        if (error == 0) {
            // Renamed: the target is the new file now, whatever the flush and close say.
            const SystemError flushed = ::FlushFileBuffers(Win(file)) == 0 ? LastError() : 0;
            const SystemError closed = ::CloseHandle(Win(file)) == 0 ? LastError() : 0;
            *stage = flushed != 0  ? ReplaceStage::FlushingFile
                     : closed != 0 ? ReplaceStage::ClosingFile
                                   : ReplaceStage::Done;
            return flushed != 0 ? flushed : closed;
        }
        // Refused: only a handle that still names the new file's own name is marked; one that
        // names the target already was renamed after all, and one whose name cannot be read is
        // left (a stale verdata.mul.new, which the next run removes and names) rather than
        // risk deleting what the target's name now stands for.
        if (NameOf(Win(file), std::string(temporary)) == Named::Is)
            (void)MarkForDeletion(Win(file));
        ::CloseHandle(Win(file));
        return error;
    }

    SystemError Discard(FileHandle file, DirectoryHandle, std::string_view) override {
        const SystemError marked = MarkForDeletion(Win(file));
        const SystemError closed = ::CloseHandle(Win(file)) == 0 ? LastError() : 0;
        return marked != 0 ? marked : closed;
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
    // deletes it. The system closes the handle however the process ends, so nothing of it can
    // stay behind to stop a later run. The run's lock keeps other runs out of the folder, so its
    // name needs no more than a mark or two in place of the stale name's last characters:
    // whatever fits the folder's path for verdata.mul.new fits for it. A read-only name is replaced
    // by the rename that ignores it; where the system lacks that, its read-only mark is cleared
    // first, through a handle on the name itself (a link is opened as the link, never followed).
    SystemError RemoveStale(DirectoryHandle directory, std::string_view name) override {
        const std::string path(name);
        // Under Wine a dangling link shows as nothing: the cover goes over it all the same.
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        const bool known = attributes != INVALID_FILE_ATTRIBUTES;
        // A folder of that name is someone's, and so is a link to one (a junction, a folder's
        // symbolic link): it refuses the run at once, and stays.
        if (known && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return kTemporaryIsDirectory;
        HANDLE cover = INVALID_HANDLE_VALUE;
        SystemError error = 0;
        // The cover's name is as long as the stale one's (its last characters a '~' and a mark),
        // so that a folder deep enough for the run's own names is deep enough for it too.
        static constexpr char kMarks[] = "~0123456789";
        for (const char mark : std::string_view(kMarks)) {
            std::string coverName = path;
            if (mark == '~')
                coverName.back() = '~';
            else if (coverName.size() >= 2)
                coverName.replace(coverName.size() - 2, 2, std::string{'~', mark});
            error = 0;
            cover = RetriedCreate(
                coverName, GENERIC_WRITE | DELETE,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, CREATE_NEW,
                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                Passing, &error);
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                break;
        }
        if (cover == INVALID_HANDLE_VALUE)
            return error;
        const Folder folder(directory);
        error = RenameOver(cover, folder.Handle(), path);
        if (error == ERROR_ACCESS_DENIED && known && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            // Cleared only on a file of one name: the mark of a file that has other names (a
            // hard link) is theirs too, and would stay cleared on them.
            const HANDLE stale =
                ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            BY_HANDLE_FILE_INFORMATION about{};
            FILE_BASIC_INFO basic{};  // times of 0 stay as they are
            const DWORD writable = attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
            basic.FileAttributes = writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL;
            if (stale != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(stale, &about) != 0 &&
                about.nNumberOfLinks == 1 &&
                ::SetFileInformationByHandle(stale, FileBasicInfo, &basic, sizeof basic) != 0) {
                ::CloseHandle(stale);
                error = RenameOver(cover, folder.Handle(), path);
            } else if (stale != INVALID_HANDLE_VALUE) {
                ::CloseHandle(stale);
            }
        }
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
