// The test platform: the real one of this build, seen through a decorator that logs every file
// operation, fails a chosen one (with a system error or as a short transfer), records boxes and
// pauses, and turns the end of the process into a ProcessEnded exception, so that a test can
// look at the real files an error stop leaves behind.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/platform.h"

namespace quelvane::testing {

struct ProcessEnded {
    std::uint32_t ExitCode;
};

struct Box {
    std::string Text, Caption;
    std::uint32_t Style = 0;
    bool Owned = false;
    std::size_t PausesBefore = 0;
};

enum class Operation {
    Open, Create, Read, Write, Copy, Seek, Size, Flush, Close, Attributes, Resolve, Replace, Remove
};
const char* OperationName(Operation operation);

struct Fault {
    std::size_t At = 0;     // the 1-based number of the operation that fails
    SystemError Error = 0;  // the system's error, or 0 for a short transfer
    std::optional<Operation> Of;  // when set, At counts only the operations of this kind
};

class TestPlatform final : public Platform {
  public:
    TestPlatform() : inner_(NativePlatform()) { previous_ = InstallPlatform(this); }
    ~TestPlatform() override { InstallPlatform(previous_); }
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    std::vector<Box> Boxes;
    std::vector<std::string> BoxTexts() const;
    std::vector<std::uint32_t> Pauses;
    std::vector<Operation> Operations;  // every file operation, in order
    std::optional<Fault> InjectedFault;
    bool FaultHit = false;
    bool KernelCopy = true;     // false: the in-kernel copy reports itself unsupported
    std::set<FileHandle> Live;  // files opened or created here and not yet closed
    // Names that refuse write access, as a read-only file does to anyone but root.
    std::set<std::string> WriteProtected;

    FileHandle OpenExisting(std::string_view name, OpenMode mode, SystemError* error) override;
    FileHandle CreateNew(std::string_view name, SystemError* error) override;
    Transfer Read(FileHandle file, void* buffer, std::uint32_t size) override;
    Transfer Write(FileHandle file, const void* buffer, std::uint32_t size) override;
    Transfer ReadAt(FileHandle file, std::int64_t position, void* buffer,
                    std::uint32_t size) override;
    Transfer ReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                           std::size_t count) override;
    Transfer CopyRange(FileHandle source, std::int64_t sourcePosition, FileHandle target,
                       std::uint32_t size) override;
    SystemError Seek(FileHandle file, std::int32_t position) override;
    SystemError Size(FileHandle file, std::int64_t* size) override;
    SystemError Flush(FileHandle file) override;
    SystemError Close(FileHandle file) override;
    SystemError KeepAttributes(FileHandle model, FileHandle file) override;
    SystemError FinalName(std::string_view name, std::string* finalName) override;
    SystemError Replace(std::string_view replacement, std::string_view target) override;
    SystemError Remove(std::string_view name) override;
    void ShowMessage(WindowHandle owner, std::string_view text, std::string_view caption,
                     std::uint32_t style) override {
        Boxes.push_back(
            {std::string(text), std::string(caption), style, owner != kNoWindow, Pauses.size()});
    }
    void Pause(std::uint32_t milliseconds) override { Pauses.push_back(milliseconds); }
    [[noreturn]] void EndProcess(std::uint32_t exitCode) override { throw ProcessEnded{exitCode}; }

  private:
    // Logs the operation; returns the fault to apply to it, if this is the one.
    std::optional<Fault> Next(Operation operation);
    template <typename Call>
    SystemError Checked(Operation operation, Call call);
    template <typename Call>
    FileHandle Opened(Operation operation, SystemError* error, Call open);
    template <typename Call>
    Transfer Faulted(Operation operation, std::uint32_t size, Call transfer);

    Platform& inner_;
    Platform* previous_ = nullptr;
};

}  // namespace quelvane::testing
