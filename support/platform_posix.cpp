// The platform seam on POSIX systems (the native build).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "support/platform.h"

namespace quelvane {
namespace {

int Descriptor(FileHandle file) {
    return static_cast<int>(file) - 1;
}
FileHandle Handle(int descriptor) {
    return static_cast<FileHandle>(descriptor) + 1;
}
SystemError LastError() {
    return static_cast<SystemError>(errno);
}

// The directory part of a bare or relative name, for syncing the directory after a rename.
std::string DirectoryOf(const std::string& name) {
    const auto slash = name.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return name.substr(0, slash);
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

class PosixPlatform final : public Platform {
  public:
    FileHandle OpenExisting(std::string_view name, OpenMode mode, SystemError* error) override {
        const int flags = (mode == OpenMode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
        return Opened(::open(std::string(name).c_str(), flags), error);
    }

    // O_EXCL never opens what is there, and O_NOFOLLOW says so for a link too. Only the owner
    // may touch the new file until KeepAttributes gives it the target's bits.
    FileHandle CreateNew(std::string_view name, SystemError* error) override {
        const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        return Opened(::open(std::string(name).c_str(), flags, 0600), error);
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
    // mode then restores. A process that may not give the file the target's owner gives it the
    // group where it may, and otherwise keeps its own: the bits still follow the target.
    SystemError KeepAttributes(FileHandle model, FileHandle file) override {
        struct stat status {};
        if (::fstat(Descriptor(model), &status) != 0)
            return LastError();
        if (::fchown(Descriptor(file), status.st_uid, status.st_gid) != 0) {
            if (errno != EPERM)
                return LastError();
            if (::fchown(Descriptor(file), static_cast<uid_t>(-1), status.st_gid) != 0 &&
                errno != EPERM) {
                return LastError();
            }
        }
        return ::fchmod(Descriptor(file), status.st_mode & 07777) != 0 ? LastError() : 0;
    }

    SystemError FinalName(std::string_view name, std::string* finalName) override {
        const std::string path(name);
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0)
            return LastError();
        if (!S_ISLNK(status.st_mode)) {
            *finalName = path;
            return 0;
        }
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr)
            return LastError();
        *finalName = resolved;
        std::free(resolved);
        return 0;
    }

    SystemError Replace(std::string_view replacement, std::string_view target) override {
        const std::string to(target);
        if (::rename(std::string(replacement).c_str(), to.c_str()) != 0)
            return LastError();
        // The rename is durable only once the directory that holds both names is on disk.
        const int directory = ::open(DirectoryOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0)
            return LastError();
        const SystemError error = ::fsync(directory) != 0 ? LastError() : 0;
        ::close(directory);
        return error;
    }

    SystemError Remove(std::string_view name) override {
        return ::unlink(std::string(name).c_str()) != 0 && errno != ENOENT ? LastError() : 0;
    }

    // The terminal rendition of a box: one line "<caption>: <text>". Error boxes (the error icon,
    // and the runtime-error box with its caption "Error") go to standard error, the others to
    // standard output. At a terminal the box waits for Enter as its OK.
    void ShowMessage(WindowHandle, std::string_view text, std::string_view caption,
                     std::uint32_t style) override {
        const bool error = (style & kBoxError) == kBoxError || caption == "Error";
        std::FILE* stream = error ? stderr : stdout;
        std::fprintf(stream, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        std::fflush(stream);
        if (::isatty(STDIN_FILENO) != 0) {
            char key = 0;
            while (::read(STDIN_FILENO, &key, 1) == 1 && key != '\n' && key != '\r') {
            }
        }
    }

    void Pause(std::uint32_t milliseconds) override {
        timespec wait{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
        while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
        }
    }

    [[noreturn]] void EndProcess(std::uint32_t exitCode) override {
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(static_cast<int>(exitCode));
    }

  private:
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
