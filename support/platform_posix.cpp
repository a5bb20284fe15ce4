// The platform seam on POSIX systems (the native build).
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "support/commit_point.h"
#include "support/pipe_relay.h"
#include "support/platform.h"
#include "support/posix_handles.h"

namespace quelvane {
namespace {

SystemError LastError() {
    return static_cast<SystemError>(errno);
}

// A held directory's descriptor, or the current directory's stand-in.
int At(DirectoryHandle directory) {
    return directory == kCurrentDirectory ? AT_FDCWD : static_cast<int>(directory) - 1;
}

// flock, repeated when a signal cuts it short; 0 or the reason, kRunInProgress for a holder.
SystemError Flocked(int descriptor, bool exclusive) {
    int result = 0;
    while ((result = ::flock(descriptor, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB)) != 0 &&
           errno == EINTR) {
    }
    return result == 0 ? 0 : errno == EWOULDBLOCK ? kRunInProgress : LastError();
}

// The content of the link `name` in `directory`.
bool ReadLink(int directory, const char* name, std::string* target) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(directory, name, buffer.data(), buffer.size());
        if (length < 0)
            return false;
        if (static_cast<std::size_t>(length) < buffer.size()) {
            target->assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);  // possibly cut short: read it again, larger
    }
}

// Locks `descriptor` as Flocked does and keeps it as the lock, or closes it.
SystemError KeptLocked(int descriptor, bool exclusive, LockHandle* lock) {
    const SystemError error = Flocked(descriptor, exclusive);
    if (error == 0)
        *lock = Handle(descriptor);  // a descriptor, encoded as the files' are
    else
        ::close(descriptor);
    return error;
}

// Whether a descriptor that this process was started with (one without close-on-exec: every one
// of its own has it) stands for the directory `held`: a wrapper such as flock(1) that locked the
// directory and runs the command with the descriptor open holds the lock this run meets, and
// waiting for it would wait for the run's own caller.
bool InheritedDescriptorOf(int held) {
    struct stat wanted {};
    DIR* const descriptors = ::fstat(held, &wanted) == 0 ? ::opendir("/proc/self/fd") : nullptr;
    if (descriptors == nullptr)
        return false;
    bool found = false;
    const int own = ::dirfd(descriptors);
    while (const dirent* entry = ::readdir(descriptors)) {
        const int descriptor = std::atoi(entry->d_name);
        struct stat status {};
        const int flags = entry->d_name[0] == '.' || descriptor == held || descriptor == own
                              ? -1
                              : ::fcntl(descriptor, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0 && ::fstat(descriptor, &status) == 0 &&
            status.st_dev == wanted.st_dev && status.st_ino == wanted.st_ino) {
            found = true;
            break;
        }
    }
    ::closedir(descriptors);
    return found;
}

// Gives `file` the extended attributes of `model`, POSIX access-control lists among them
// (system.posix_acl_access), as far as the process may set each and the file system holds it;
// one it may not is left out, as an owner it may not give is.
void KeepExtendedAttributes(int model, int file) {
    std::vector<char> names(1024), value(4096);
    ssize_t length = 0;
    while ((length = ::flistxattr(model, names.data(), names.size())) < 0 && errno == ERANGE)
        names.resize(names.size() * 4);
    const std::size_t end = length > 0 ? static_cast<std::size_t>(length) : 0;
    for (std::size_t at = 0; at < end; at += std::strlen(&names[at]) + 1) {
        const char* name = &names[at];
        ssize_t size = 0;
        while ((size = ::fgetxattr(model, name, value.data(), value.size())) < 0 && errno == ERANGE)
            value.resize(value.size() * 4);
        if (size >= 0)
            (void)::fsetxattr(file, name, value.data(), static_cast<std::size_t>(size), 0);
    }
}

// Calls `transfer(done)` until `size` bytes have moved, the file ends (a call moves nothing: the
// transfer comes up short) or the system refuses; a call cut short by a signal is repeated.
template <typename Call>
Transfer Repeated(std::uint32_t size, Call transfer) {
    Transfer result;
    while (result.moved < size) {
        const ssize_t moved = transfer(result.moved);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0) {
            result.error = LastError();
            break;
        }
        if (moved == 0)
            break;
        result.moved += static_cast<std::uint32_t>(moved);
    }
    return result;
}

// The path of a held directory (or the current one), for a message that names it.
std::string PathOf(DirectoryHandle directory) {
    std::string path(4096, '\0');
    const std::string link = directory == kCurrentDirectory
                                 ? std::string("/proc/self/cwd")
                                 : "/proc/self/fd/" + std::to_string(At(directory));
    const ssize_t length = ::readlink(link.c_str(), path.data(), path.size());
    return length > 0 ? path.substr(0, static_cast<std::size_t>(length)) : std::string(".");
}

class PosixPlatform final : public Platform {
  public:
    // Follows the chain link by link from the current directory: each link's directory part is
    // opened relative to the directory that held the link, and the last directory stays open.
    // A link swapped after this point is never followed again: the later steps use the held
    // directory and the final name, and open it with O_NOFOLLOW.
    SystemError Resolve(std::string_view name, FinalPlace* place) override {
        constexpr int kMostLinks = 40;  // as the kernel's own limit on a chain of links
        int directory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0)
            return LastError();
        std::string leaf(name);
        for (int links = 0;; ++links) {
            struct stat status {};
            if (::fstatat(directory, leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISLNK(status.st_mode)) {
                break;  // the end of the chain (or nothing there: the open will tell)
            }
            std::string target;
            if (links == kMostLinks || !ReadLink(directory, leaf.c_str(), &target)) {
                const SystemError error = links == kMostLinks ? ELOOP : LastError();
                ::close(directory);
                return error;
            }
            const auto slash = target.find_last_of('/');
            leaf = target.substr(slash == std::string::npos ? 0 : slash + 1);
            if (slash == std::string::npos)
                continue;
            const std::string part = slash == 0 ? "/" : target.substr(0, slash);
            const int next = ::openat(directory, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const SystemError error = next < 0 ? LastError() : 0;
            ::close(directory);
            if (next < 0)
                return error;
            directory = next;
        }
        place->Directory = static_cast<DirectoryHandle>(directory) + 1;
        place->Name = leaf;
        return 0;
    }

    void CloseDirectory(DirectoryHandle directory) override {
        if (directory != kCurrentDirectory)
            ::close(At(directory));
    }

    // flock on the held directory: the directory is where a run's temporary file lives, and
    // every way to the file (another spelling of the path, a linked directory, a link named
    // verdata.mul elsewhere) ends in this one directory, whatever led there. The lock belongs to
    // a descriptor of its own, opened anew, so it goes when the run lets it go or the process ends.
    // Where the file system cannot lock a directory (NFS, which maps flock to byte-range locks that
    // need a file open for writing) the file itself is locked, on a descriptor of its own, instead.
    SystemError Lock(const FinalPlace& place, bool exclusive, LockHandle* lock) override {
        const int directory =
            ::openat(At(place.Directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0)
            return LastError();
        SystemError error = Flocked(directory, exclusive);
        if (error == 0) {
            *lock = Handle(directory);
            return 0;
        }
        if (error == kRunInProgress && InheritedDescriptorOf(directory))
            error = kLockedByCaller;
        ::close(directory);
        if (error == kRunInProgress || error == kLockedByCaller)
            return error;
        const int file =
            ::openat(At(place.Directory), place.Name.c_str(),
                     (exclusive ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0)
            return errno == ENOENT || errno == ELOOP ? 0 : LastError();  // the open will tell
        return KeptLocked(file, exclusive, lock);
    }

    std::string LockedPath(const FinalPlace& place) override { return PathOf(place.Directory); }

    void Unlock(LockHandle lock) override {
        if (lock != kNoLock)
            ::close(Descriptor(lock));  // the lock goes with the descriptor's last close
    }

    // The type is looked at before the open, so that a FIFO or a device is never opened, and
    // again on the open descriptor, for one swapped in between; the open does not wait (a FIFO
    // without a writer would keep it forever).
    FileHandle OpenExisting(DirectoryHandle directory, std::string_view name, OpenMode mode,
                            SystemError* error) override {
        const std::string path(name);
        const bool held = directory != kCurrentDirectory;
        struct stat status {};
        if (::fstatat(At(directory), path.c_str(), &status, held ? AT_SYMLINK_NOFOLLOW : 0) == 0 &&
            !S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
            return Refused(kNotRegularFile, error);
        }
        const int flags = (mode == OpenMode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC |
                          O_NONBLOCK | (held ? O_NOFOLLOW : 0);
        const int descriptor = ::openat(At(directory), path.c_str(), flags);
        if (descriptor < 0 && errno == EISDIR)
            return Refused(kNotRegularFile, error);
        if (descriptor >= 0 && (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
            ::close(descriptor);
            return Refused(kNotRegularFile, error);
        }
        return Opened(descriptor, error);
    }

    // With the process's effective identity, as an open would check it; root too is refused a
    // read-only file system or an immutable file or directory. Root may also use the blocks
    // the file system keeps back for it.
    WriteProbe CanWrite(DirectoryHandle directory, std::string_view name,
                        std::string_view temporary, std::int64_t bytes) override {
        WriteProbe probe;
        struct stat status {};
        const bool taken = ::fstatat(At(directory), std::string(temporary).c_str(), &status,
                                     AT_SYMLINK_NOFOLLOW) == 0;
        probe.StaleTemporary = taken && !S_ISDIR(status.st_mode);
        if (::faccessat(At(directory), std::string(name).c_str(), W_OK, AT_EACCESS) != 0) {
            probe.Error = LastError();
        } else if (::faccessat(At(directory), ".", W_OK | X_OK, AT_EACCESS) != 0) {
            probe.Error = LastError();
            probe.RefusingDirectory = PathOf(directory);
        } else if (taken && S_ISDIR(status.st_mode)) {
            probe.Error = kTemporaryIsDirectory;
        } else {
            probe.Error = HasRoom(directory, bytes);
        }
        return probe;
    }

    // O_EXCL never opens what is there, and O_NOFOLLOW says so for a link too. Only the owner
    // may touch the new file until KeepAttributes gives it the target's bits.
    // The model's owner and bits come after the create (KeepAttributes).
    FileHandle CreateNew(DirectoryHandle directory, std::string_view name, FileHandle,
                         SystemError* error) override {
        const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        const int descriptor = ::openat(At(directory), std::string(name).c_str(), flags, 0600);
        return descriptor < 0 && errno == EEXIST ? Refused(kNameTaken, error)
                                                 : Opened(descriptor, error);
    }

    Transfer Read(FileHandle file, void* buffer, std::uint32_t size) override {
        auto* bytes = static_cast<char*>(buffer);
        return Repeated(size, [&](std::uint32_t done) {
            return ::read(Descriptor(file), bytes + done, size - done);
        });
    }

    Transfer ReadAt(FileHandle file, std::int64_t position, void* buffer,
                    std::uint32_t size) override {
        auto* bytes = static_cast<char*>(buffer);
        return Repeated(size, [&](std::uint32_t done) {
            return ::pread(Descriptor(file), bytes + done, size - done,
                           static_cast<off_t>(position + done));
        });
    }

    // preadv, up to kVectors parts a call, resumed after a short call in the middle of a part.
    Transfer ReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                           std::size_t count) override {
        constexpr std::size_t kVectors = 256;
        Transfer result;
        std::size_t next = 0;          // the first part not yet filled
        std::uint32_t nextFilled = 0;  // how much of it is
        while (next < count) {
            iovec vectors[kVectors];
            int used = 0;
            for (std::size_t k = next; k < count && used < static_cast<int>(kVectors); ++k) {
                const std::uint32_t skip = k == next ? nextFilled : 0;
                vectors[used++] = {static_cast<char*>(parts[k].Buffer) + skip,
                                   parts[k].Size - skip};
            }
            const ssize_t got = ::preadv(Descriptor(file), vectors, used,
                                         static_cast<off_t>(position + result.moved));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                result.error = LastError();
                break;
            }
            if (got == 0)
                break;  // end of file: the read comes up short
            result.moved += static_cast<std::uint32_t>(got);
            auto left = static_cast<std::uint32_t>(got);
            while (next < count && parts[next].Size - nextFilled <= left) {
                left -= parts[next].Size - nextFilled;
                ++next;
                nextFilled = 0;
            }
            nextFilled += left;
        }
        return result;
    }

    Transfer Write(FileHandle file, const void* buffer, std::uint32_t size) override {
        const auto* bytes = static_cast<const char*>(buffer);
        return Repeated(size, [&](std::uint32_t done) {
            return ::write(Descriptor(file), bytes + done, size - done);
        });
    }

    Transfer CopyRange(FileHandle source, std::int64_t sourcePosition, FileHandle target,
                       std::uint32_t size) override {
        Transfer result;
#if defined(__linux__)
        loff_t position = static_cast<loff_t>(sourcePosition);
        while (result.moved < size) {
            const ssize_t copied = ::copy_file_range(
                Descriptor(source), &position, Descriptor(target), nullptr, size - result.moved, 0);
            if (copied < 0 && errno == EINTR)
                continue;
            if (copied < 0) {
                // Nothing moved yet and the kernel cannot copy this pair: let the caller copy.
                const bool unsupported = errno == ENOSYS || errno == EXDEV || errno == EINVAL ||
                                         errno == EOPNOTSUPP || errno == EBADF;
                result.error = (unsupported && result.moved == 0) ? kCopyUnsupported : LastError();
                break;
            }
            if (copied == 0)
                break;  // the source ended early
            result.moved += static_cast<std::uint32_t>(copied);
        }
#else
        (void)source, (void)sourcePosition, (void)target, (void)size;
        result.error = kCopyUnsupported;
#endif
        return result;
    }

    Transfer CopyRanges(const FileRange* ranges, std::size_t count, FileHandle target) override {
        return relay_.Copy(ranges, count, target);
    }

    SystemError Seek(FileHandle file, std::int32_t position) override {
        return ::lseek(Descriptor(file), static_cast<off_t>(position), SEEK_SET) < 0 ? LastError()
                                                                                     : 0;
    }

    SystemError Size(FileHandle file, std::int64_t* size) override {
        struct stat status {};
        if (::fstat(Descriptor(file), &status) != 0)
            return LastError();
        *size = static_cast<std::int64_t>(status.st_size);
        return 0;
    }

    SystemError Flush(FileHandle file) override {
        return ::fsync(Descriptor(file)) != 0 ? LastError() : 0;
    }

    SystemError Close(FileHandle file) override {
        return ::close(Descriptor(file)) != 0 ? LastError() : 0;
    }

    // The owner first: a change of owner clears the set-user-ID and set-group-ID bits, which the
    // mode then restores; the extended attributes last, as an access-control list agrees with
    // the mode it came with. A process that may not give the file the target's owner gives it the
    // group where it may, and otherwise keeps its own: the bits still follow the target. A file
    // system that keeps no owner or no mode (FAT through FUSE answers ENOSYS, others EOPNOTSUPP,
    // EPERM or EINVAL) never refuses the run: what it does keep is still kept.
    SystemError KeepAttributes(FileHandle model, FileHandle file) override {
        struct stat status {};
        if (::fstat(Descriptor(model), &status) != 0)
            return LastError();
        const auto keepsNone = [] {
            return errno == ENOSYS || errno == EOPNOTSUPP || errno == EPERM || errno == EINVAL;
        };
        if (::fchown(Descriptor(file), status.st_uid, status.st_gid) != 0) {
            if (!keepsNone())
                return LastError();
            if (::fchown(Descriptor(file), static_cast<uid_t>(-1), status.st_gid) != 0 &&
                !keepsNone()) {
                return LastError();
            }
        }
        if (::fchmod(Descriptor(file), status.st_mode & 07777) != 0 && !keepsNone())
            return LastError();
        KeepExtendedAttributes(Descriptor(model), Descriptor(file));
        return 0;
    }

    SystemError KeepTimes(FileHandle model, FileHandle file) override {
        struct stat status {};
        if (::fstat(Descriptor(model), &status) != 0)
            return LastError();
        const timespec times[2] = {status.st_atim, status.st_mtim};
        return ::futimens(Descriptor(file), times) != 0 ? LastError() : 0;
    }

    SystemError KindOf(DirectoryHandle directory, std::string_view name, NameKind* kind) override {
        struct stat status {};
        *kind = NameKind::Nothing;
        if (::fstatat(At(directory), std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? 0 : LastError();
        *kind = S_ISREG(status.st_mode)   ? NameKind::RegularFile
                : S_ISDIR(status.st_mode) ? NameKind::Directory
                : S_ISLNK(status.st_mode) ? NameKind::Link
                                          : NameKind::Other;
        return 0;
    }

    // The open descriptor itself gets the name (through /proc, which any process may use for
    // its own files), so the link is the file that was loaded, whatever its name stands for
    // now. A file system without hard links (FAT), one that will not link this file (the
    // kernel's protection of others' files) or a file at its most links: the caller copies.
    SystemError LinkFile(FileHandle file, DirectoryHandle directory,
                         std::string_view name) override {
        const std::string self = "/proc/self/fd/" + std::to_string(Descriptor(file));
        const std::string to(name);
        int result = ::linkat(AT_FDCWD, self.c_str(), At(directory), to.c_str(), AT_SYMLINK_FOLLOW);
        if (result != 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0)
            result = ::linkat(Descriptor(file), "", At(directory), to.c_str(), AT_EMPTY_PATH);
        if (result == 0)
            return 0;
        switch (errno) {
            case EEXIST:
                return kNameTaken;
            case EPERM:
            case EOPNOTSUPP:
            case EMLINK:
            case EXDEV:
            case ENOSYS:
                return kLinkUnsupported;
            default:
                return LastError();
        }
    }

    SystemError StillNames(DirectoryHandle directory, std::string_view name,
                           FileHandle file) override {
        struct stat named {};
        struct stat loaded {};
        if (::fstatat(At(directory), std::string(name).c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
            return LastError();
        if (::fstat(Descriptor(file), &loaded) != 0)
            return LastError();
        return named.st_dev == loaded.st_dev && named.st_ino == loaded.st_ino ? 0 : kNameMoved;
    }

    // The new file is closed first: its data are on disk already, and a close that fails (as
    // it may on a network file system) refuses the replace instead of following it.
    SystemError Replace(DirectoryHandle directory, FileHandle file, std::string_view replacement,
                        std::string_view target, ReplaceStage* stage) override {
        *stage = ReplaceStage::NotReplaced;
        if (::close(Descriptor(file)) != 0) {
            const SystemError error = LastError();
            (void)Remove(directory, replacement);
            return error;
        }
        if (::renameat(At(directory), std::string(replacement).c_str(), At(directory),
                       std::string(target).c_str()) != 0) {
            const SystemError error = LastError();
            (void)Remove(directory, replacement);
            return error;
        }
        // The rename is durable only once the directory that holds both names is on disk.
        *stage = ReplaceStage::FlushingDirectory;
        const int held = directory != kCurrentDirectory
                             ? At(directory)
                             : ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const SystemError error = held < 0 || ::fsync(held) != 0 ? LastError() : 0;
        if (held >= 0 && directory == kCurrentDirectory)
            ::close(held);
        if (error == 0)
            *stage = ReplaceStage::Done;
        return error;
    }

    SystemError Discard(FileHandle file, DirectoryHandle directory,
                        std::string_view name) override {
        const SystemError removed = Remove(directory, name);
        const SystemError closed = ::close(Descriptor(file)) != 0 ? LastError() : 0;
        return removed != 0 ? removed : closed;
    }

    // unlink removes a link itself, never what it points to: a stale name needs no more care.
    // A directory of that name is not removed: it is someone's, and refuses the run.
    SystemError Remove(DirectoryHandle directory, std::string_view name) override {
        if (::unlinkat(At(directory), std::string(name).c_str(), 0) == 0 || errno == ENOENT)
            return 0;
        return errno == EISDIR ? kTemporaryIsDirectory : LastError();
    }
    SystemError HasRoom(DirectoryHandle directory, std::int64_t bytes) override {
        struct statvfs space {};
        if ((directory == kCurrentDirectory ? ::statvfs(".", &space)
                                            : ::fstatvfs(At(directory), &space)) != 0) {
            return LastError();
        }
        const auto blocks = ::geteuid() == 0 ? space.f_bfree : space.f_bavail;
        return static_cast<std::uint64_t>(blocks) * space.f_frsize <
                       static_cast<std::uint64_t>(bytes)
                   ? ENOSPC
                   : 0;
    }

    // The FAT family keeps one name per file; any other file system is taken to keep more (a
    // copy is still made where a link is refused after all).
    bool GivesSecondNames(DirectoryHandle directory) override {
        constexpr decltype(statfs::f_type) kMsdos = 0x4d44, kExfat = 0x2011BAB0;
        struct statfs system {};
        const int result = directory == kCurrentDirectory ? ::statfs(".", &system)
                                                          : ::fstatfs(At(directory), &system);
        return result != 0 || (system.f_type != kMsdos && system.f_type != kExfat);
    }

    SystemError ListNames(DirectoryHandle directory, std::vector<std::string>* names) override {
        const int descriptor = ::openat(At(directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* listing = descriptor >= 0 ? ::fdopendir(descriptor) : nullptr;
        if (listing == nullptr) {
            const SystemError error = LastError();
            if (descriptor >= 0)
                ::close(descriptor);
            return error;
        }
        errno = 0;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..")
                names->emplace_back(name);
        }
        const SystemError error = errno != 0 ? LastError() : 0;
        ::closedir(listing);
        return error;
    }

    SystemError RemoveStale(DirectoryHandle directory, std::string_view name) override {
        return Remove(directory, name);
    }

    // A box as one line "<caption>: <text>": error and warning boxes (and the runtime-error box,
    // caption "Error") on standard error, the others on standard output. The native command's
    // front ends take the boxes over (SetBoxSink) to say more and to wait at a terminal.
    void ShowMessage(WindowHandle, std::string_view text, std::string_view caption,
                     std::uint32_t style) override {
        const bool error = style == kBoxError || style == kBoxWarning || caption == "Error";
        std::FILE* stream = error ? stderr : stdout;
        std::fprintf(stream, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        std::fflush(stream);
    }

    // A terminating signal after the commit cuts the pause short: the run ends at once.
    void Pause(std::uint32_t milliseconds) override {
        timespec wait{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
        while (::nanosleep(&wait, &wait) != 0 && errno == EINTR && !InterruptedAfterCommit()) {
        }
    }

    [[noreturn]] void EndProcess(std::uint32_t exitCode) override {
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(static_cast<int>(exitCode));
    }

  private:
    PipeRelay relay_;

    static FileHandle Refused(SystemError reason, SystemError* error) {
        if (error != nullptr)
            *error = reason;
        return kNoFile;
    }
    static FileHandle Opened(int descriptor, SystemError* error) {
        if (descriptor >= 0)
            return Handle(descriptor);
        if (error != nullptr)
            *error = LastError();
        return kNoFile;
    }
};

}  // namespace

Platform& NativePlatform() {
    static PosixPlatform platform;
    return platform;
}

}  // namespace quelvane
