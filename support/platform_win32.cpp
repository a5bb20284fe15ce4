// The platform seam on Windows (kernel32 and user32): the product's own build.
#include <windows.h>

#include <algorithm>
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

FileHandle Opened(HANDLE handle, SystemError* error) {
    if (handle != INVALID_HANDLE_VALUE)
        return reinterpret_cast<FileHandle>(handle);
    if (error != nullptr)
        *error = LastError();
    return kNoFile;
}

class Win32Platform final : public Platform {
  public:
    FileHandle OpenExisting(std::string_view name, OpenMode mode, SystemError* error) override {
        const DWORD access =
            mode == OpenMode::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
        return Opened(::CreateFileA(std::string(name).c_str(), access, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                      error);
    }

    // CREATE_NEW fails on any existing name, a link included, instead of opening it.
    FileHandle CreateNew(std::string_view name, SystemError* error) override {
        return Opened(
            ::CreateFileA(std::string(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
            error);
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

    // A new file takes the access rules its directory hands down, as the target once did.
    SystemError KeepAttributes(FileHandle, FileHandle) override { return 0; }

    // A link as the target is replaced as a name, as Windows' own tools replace it.
    SystemError FinalName(std::string_view name, std::string* finalName) override {
        *finalName = name;
        return 0;
    }

    // MoveFileEx replaces in one step; write-through returns only once the move is on disk. A
    // virus scanner or an indexer often holds a freshly written file for a moment: while the
    // move is refused as if by such a passing holder, it is tried again for about 2 s.
    SystemError Replace(std::string_view replacement, std::string_view target) override {
        constexpr DWORD kRetryForMs = 2000, kStepMs = 50;
        const std::string from(replacement), to(target);
        const DWORD start = ::GetTickCount();
        for (;;) {
            if (::MoveFileExA(from.c_str(), to.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
                return 0;
            }
            const SystemError error = LastError();
            const bool passing = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                                 error == ERROR_LOCK_VIOLATION;
            if (!passing || ::GetTickCount() - start >= kRetryForMs)
                return error;
            ::Sleep(kStepMs);
        }
    }

    // Windows removes a link itself, but Wine shows a Unix symbolic link as the file it points to
    // (or, dangling, as nothing) and would delete that file instead. So an empty file of this
    // program's own is first moved over the name, which replaces whatever the name was, a link
    // included, as a name; then that file is deleted. A name that did not exist is no error.
    SystemError Remove(std::string_view name) override {
        const std::string path(name), cover = path + ".gone";
        const HANDLE empty = ::CreateFileA(cover.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (empty == INVALID_HANDLE_VALUE)
            return LastError();
        ::CloseHandle(empty);
        const bool covered =
            ::MoveFileExA(cover.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        const SystemError error = covered ? 0 : LastError();
        if (::DeleteFileA((covered ? path : cover).c_str()) == 0 && error == 0)
            return LastError();
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
