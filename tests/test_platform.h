// Test doubles installed through the platform seam.
//
// MemoryFileSystem: files as byte vectors, handles with positions, so whole runs go through the
// real engine without touching the disk. TestPlatform: wraps any platform, counts its file
// operations, fails a chosen one (with a system error or as a short transfer), records the boxes
// and pauses, and turns the end of the process into a ProcessEnded exception so a test can look
// at what the error stop left behind.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/platform.h"

namespace quelvane::testing {

using Bytes = std::vector<unsigned char>;

struct ProcessEnded {
    std::uint32_t ExitCode;
};

struct Box {
    std::string Text;
    std::string Caption;
    std::uint32_t Style = 0;
    bool Owned = false;
};

class MemoryFileSystem final : public Platform {
  public:
    std::map<std::string, Bytes> Files;
    std::map<std::string, bool> ReadOnly;  // files that refuse write access, like chmod 0444

    int OpenHandles() const { return static_cast<int>(open_.size()); }

    FileHandle OpenExisting(std::string_view name, OpenMode mode, SystemError* error) override;
    FileHandle CreateAlways(std::string_view name, SystemError* error) override;
    Transfer Read(FileHandle file, void* buffer, std::uint32_t size) override;
    Transfer ReadAt(FileHandle file, std::int64_t position, void* buffer,
                    std::uint32_t size) override;
    Transfer ReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                           std::size_t count) override;
    Transfer Write(FileHandle file, const void* buffer, std::uint32_t size) override;
    Transfer CopyRange(FileHandle source, std::int64_t sourcePosition, FileHandle target,
                       std::uint32_t size) override;
    SystemError Seek(FileHandle file, std::int32_t position) override;
    SystemError Size(FileHandle file, std::int64_t* size) override;
    SystemError Flush(FileHandle file) override;
    SystemError Close(FileHandle file) override;
    SystemError Replace(std::string_view replacement, std::string_view target) override;
    SystemError Remove(std::string_view name) override;
    void ShowMessage(WindowHandle, std::string_view, std::string_view, std::uint32_t) override {}
    void Pause(std::uint32_t) override {}
    [[noreturn]] void EndProcess(std::uint32_t exitCode) override { throw ProcessEnded{exitCode}; }

    bool KernelCopy = true;  // whether CopyRange works, to cover both copy paths

  private:
    struct Open {
        std::string Name;
        std::int64_t Position = 0;
        bool Writable = false;
    };
    Open* Find(FileHandle file);

    std::map<FileHandle, Open> open_;
    FileHandle next_ = 1;
};

// The operations a fault can hit.
enum class Operation { Open, Create, Read, Write, Copy, Seek, Size, Flush, Close, Replace, Remove };
const char* OperationName(Operation operation);

struct Fault {
    std::size_t At = 0;     // the 1-based number of the operation that fails
    SystemError Error = 0;  // the system's error, or 0 for a short transfer
};

class TestPlatform final : public Platform {
  public:
    explicit TestPlatform(Platform& inner) : inner_(inner) { previous_ = InstallPlatform(this); }
    ~TestPlatform() override { InstallPlatform(previous_); }
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    std::vector<Box> Boxes;
    std::vector<std::uint32_t> Pauses;
    std::vector<Operation> Operations;  // every file operation, in order
    std::optional<Fault> InjectedFault;
    bool FaultHit = false;
    std::set<FileHandle> Live;  // handles opened or created through this platform, not closed

    FileHandle OpenExisting(std::string_view name, OpenMode mode, SystemError* error) override;
    FileHandle CreateAlways(std::string_view name, SystemError* error) override;
    Transfer Read(FileHandle file, void* buffer, std::uint32_t size) override;
    Transfer ReadAt(FileHandle file, std::int64_t position, void* buffer,
                    std::uint32_t size) override;
    Transfer ReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                           std::size_t count) override;
    Transfer Write(FileHandle file, const void* buffer, std::uint32_t size) override;
    Transfer CopyRange(FileHandle source, std::int64_t sourcePosition, FileHandle target,
                       std::uint32_t size) override;
    SystemError Seek(FileHandle file, std::int32_t position) override;
    SystemError Size(FileHandle file, std::int64_t* size) override;
    SystemError Flush(FileHandle file) override;
    SystemError Close(FileHandle file) override;
    SystemError Replace(std::string_view replacement, std::string_view target) override;
    SystemError Remove(std::string_view name) override;
    void ShowMessage(WindowHandle owner, std::string_view text, std::string_view caption,
                     std::uint32_t style) override;
    void Pause(std::uint32_t milliseconds) override { Pauses.push_back(milliseconds); }
    [[noreturn]] void EndProcess(std::uint32_t exitCode) override { throw ProcessEnded{exitCode}; }

  private:
    // Counts the operation; returns the fault to apply to it, if this is the one.
    std::optional<Fault> Next(Operation operation);
    template <typename Call>
    Transfer Faulted(Operation operation, std::uint32_t size, Call transfer);

    Platform& inner_;
    Platform* previous_ = nullptr;
};

}  // namespace quelvane::testing
