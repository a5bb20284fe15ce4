// The real platform behind a decorator that logs every file operation, fails a chosen one, keeps
// the boxes and pauses, and throws ProcessEnded where the process would end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/entry_table.h"
#include "shell/run_patch.h"
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
    bool Locked = false;  // a run's lock was held while it showed
};

// A file operation, by its name: "resolve", "lock", "open", "create", "read", "write", "copy",
// "relay" (ranges of files appended inside the system), "seek", "size", "flush", "close",
// "attributes", "verify" (the name still the loaded file), "replace", "remove", "stale" (a stale
// name removed), "probe" (whether the target could be written), "times", "kind" (what a name is),
// "list" (the names in a directory), "room" (free space asked), "link" (a second name for a file)
// or "discard" (the run's own file removed through its handle).
using Operation = std::string_view;

struct Fault {
    std::size_t At = 0;                          // the 1-based number of the operation that fails
    SystemError Error = 0;                       // the system's error, or 0 for a short transfer
    std::optional<Operation> Of = std::nullopt;  // when set, At counts only this kind
};

// The system's code for a full disk.
#ifdef _WIN32
inline constexpr SystemError kDiskFull = 112;  // ERROR_DISK_FULL
#else
inline constexpr SystemError kDiskFull = 28;  // ENOSPC
#endif

class TestPlatform : public Platform {
  public:
    TestPlatform() : previous_(InstallPlatform(this)) {}
    ~TestPlatform() override { InstallPlatform(previous_); }
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    std::vector<Box> Boxes;
    std::vector<std::uint32_t> Pauses;
    std::vector<Operation> Operations;  // every file operation, in order
    std::optional<Fault> InjectedFault;
    bool KernelCopy = true;         // false: the in-kernel copy reports itself unsupported
    bool HardLinks = true;          // false: LinkFile reports links unsupported
    std::int64_t Room = INT64_MAX;  // the free bytes HasRoom answers for, at most
    std::set<std::uintptr_t> Live;  // files and directories opened here and not yet closed
    // Names that refuse write access, as a read-only file does to anyone but root.
    std::set<std::string> WriteProtected;
    // What another process does just before an operation.
    std::function<void(Operation)> Meanwhile = [](Operation) {};

    // One press of "Go!": the error stop's number, or 0. After a stop the tables are let go.
    std::uint32_t Press(bool& completed, const RunOptions& options = {}) {
        Operations.clear();
        completed = false;
        try {
            completed = RunPatch(options);
            return 0;
        } catch (const ProcessEnded& end) {
            TargetTable = EntryTable{};
            PatchTable = EntryTable{};
            return end.ExitCode;
        }
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts(Boxes.size());
        std::transform(Boxes.begin(), Boxes.end(), texts.begin(),
                       [](auto& box) { return box.Text; });
        return texts;
    }

    SystemError Resolve(std::string_view name, FinalPlace* place) override {
        const SystemError error = Checked("resolve", [&] { return os_.Resolve(name, place); });
        if (error == 0 && place->Directory != kCurrentDirectory)
            Live.insert(place->Directory);
        return error;
    }
    void CloseDirectory(DirectoryHandle directory) override {
        Live.erase(directory);
        os_.CloseDirectory(directory);
    }
    FileHandle OpenExisting(DirectoryHandle directory, std::string_view name, OpenMode mode,
                            SystemError* error) override {
        if (mode == OpenMode::ReadWrite && WriteProtected.count(std::string(name)) != 0)
            return Opened("open", error, [] { return kNoFile; });
        return Opened("open", error,
                      [&] { return os_.OpenExisting(directory, name, mode, error); });
    }
    SystemError Lock(const FinalPlace& place, bool exclusive, LockHandle* lock) override {
        const SystemError error = Checked("lock", [&] { return os_.Lock(place, exclusive, lock); });
        if (error == 0) {
            Live.insert(*lock);
            locks_.insert(*lock);
        }
        return error;
    }
    std::string LockedPath(const FinalPlace& place) override { return os_.LockedPath(place); }
    SystemError HasRoom(DirectoryHandle directory, std::int64_t bytes) override {
        return Checked("room",
                       [&] { return bytes > Room ? kDiskFull : os_.HasRoom(directory, bytes); });
    }
    bool GivesSecondNames(DirectoryHandle directory) override {
        return HardLinks && os_.GivesSecondNames(directory);
    }
    SystemError ListNames(DirectoryHandle directory, std::vector<std::string>* names) override {
        return Checked("list", [&] { return os_.ListNames(directory, names); });
    }
    void Unlock(LockHandle lock) override {
        Live.erase(lock);
        locks_.erase(lock);
        os_.Unlock(lock);
    }
    WriteProbe CanWrite(DirectoryHandle directory, std::string_view name,
                        std::string_view temporary, std::int64_t bytes) override {
        return Hit("probe") ? WriteProbe{InjectedFault->Error, {}, false}
                            : os_.CanWrite(directory, name, temporary, bytes);
    }
    FileHandle CreateNew(DirectoryHandle directory, std::string_view name, FileHandle model,
                         SystemError* error) override {
        return Opened("create", error,
                      [&] { return os_.CreateNew(directory, name, model, error); });
    }
    Transfer Read(FileHandle file, void* buffer, std::uint32_t size) override {
        return Faulted("read", size, [&](auto n) { return os_.Read(file, buffer, n); });
    }
    Transfer Write(FileHandle file, const void* buffer, std::uint32_t size) override {
        return Faulted("write", size, [&](auto n) { return os_.Write(file, buffer, n); });
    }
    Transfer ReadAt(FileHandle file, std::int64_t at, void* buffer, std::uint32_t size) override {
        return Faulted("read", size, [&](auto n) { return os_.ReadAt(file, at, buffer, n); });
    }
    // Short, a scattered read fills the parts in turn up to half the bytes asked for.
    Transfer ReadScattered(FileHandle file, std::int64_t at, const ReadPart* parts,
                           std::size_t count) override {
        return Faulted("read", Total(parts, count), [&](std::uint32_t n) {
            const std::vector<ReadPart> first = FirstBytes(parts, count, n);
            return os_.ReadScattered(file, at, first.data(), first.size());
        });
    }
    Transfer CopyRange(FileHandle source, std::int64_t at, FileHandle target,
                       std::uint32_t size) override {
        return Faulted("copy", size, [&](auto n) {
            return KernelCopy ? os_.CopyRange(source, at, target, n) : Transfer{kCopyUnsupported};
        });
    }
    // Short, the relay takes the ranges in turn up to half the bytes asked for. Without the
    // kernel's copy it relays that half for real and then reports itself unsupported, as a
    // system does when one of the files takes no relay: the caller copies the rest.
    Transfer CopyRanges(const FileRange* ranges, std::size_t count, FileHandle target) override {
        const auto relay = [&](std::uint32_t n) {
            const std::vector<FileRange> first = FirstBytes(ranges, count, n);
            return os_.CopyRanges(first.data(), first.size(), target);
        };
        return Faulted("relay", Total(ranges, count), [&](std::uint32_t n) {
            if (KernelCopy)
                return relay(n);
            const Transfer half = relay(n / 2);
            return Transfer{half.error != 0 ? half.error : kCopyUnsupported, half.moved};
        });
    }
    SystemError Seek(FileHandle file, std::int32_t position) override {
        return Checked("seek", [&] { return os_.Seek(file, position); });
    }
    SystemError Size(FileHandle file, std::int64_t* size) override {
        return Checked("size", [&] { return os_.Size(file, size); });
    }
    SystemError Flush(FileHandle file) override {
        return Checked("flush", [&] { return os_.Flush(file); });
    }
    // A failed close still releases the handle, as close(2) and CloseHandle do.
    SystemError Close(FileHandle file) override {
        const SystemError real = os_.Close(file);
        Live.erase(file);
        return Checked("close", [&] { return real; });
    }
    SystemError KeepAttributes(FileHandle model, FileHandle file) override {
        return Checked("attributes", [&] { return os_.KeepAttributes(model, file); });
    }
    SystemError KeepTimes(FileHandle model, FileHandle file) override {
        return Checked("times", [&] { return os_.KeepTimes(model, file); });
    }
    SystemError KindOf(DirectoryHandle directory, std::string_view name, NameKind* kind) override {
        return Checked("kind", [&] { return os_.KindOf(directory, name, kind); });
    }
    // With HardLinks false the file system gives no file a second name, as FAT does.
    SystemError LinkFile(FileHandle file, DirectoryHandle directory,
                         std::string_view name) override {
        return Checked("link", [&] {
            return HardLinks ? os_.LinkFile(file, directory, name) : kLinkUnsupported;
        });
    }
    SystemError StillNames(DirectoryHandle directory, std::string_view name,
                           FileHandle file) override {
        return Checked("verify", [&] { return os_.StillNames(directory, name, file); });
    }
    // The new file is closed whatever the replace does, as the real one closes it. "confirm" is
    // the step after the rename (the directory's flush): its fault comes after the real replace.
    SystemError Replace(DirectoryHandle directory, FileHandle file, std::string_view replacement,
                        std::string_view target, ReplaceStage* stage) override {
        Live.erase(file);
        if (Hit("replace")) {  // refused as the real one refuses: the new file removed, closed
            (void)os_.Discard(file, directory, replacement);
            *stage = ReplaceStage::NotReplaced;
            return InjectedFault->Error;
        }
        const SystemError error = os_.Replace(directory, file, replacement, target, stage);
        if (error == 0 && Hit("confirm")) {
            *stage = ReplaceStage::FlushingDirectory;
            return InjectedFault->Error;
        }
        return error;
    }
    // A failed discard still closes the handle, as the real ones do.
    SystemError Discard(FileHandle file, DirectoryHandle directory,
                        std::string_view name) override {
        Live.erase(file);
        if (Hit("discard")) {
            (void)os_.Close(file);
            return InjectedFault->Error;
        }
        return os_.Discard(file, directory, name);
    }
    SystemError Remove(DirectoryHandle directory, std::string_view name) override {
        return Checked("remove", [&] { return os_.Remove(directory, name); });
    }
    SystemError RemoveStale(DirectoryHandle directory, std::string_view name) override {
        return Checked("stale", [&] { return os_.RemoveStale(directory, name); });
    }
    void ShowMessage(WindowHandle owner, std::string_view text, std::string_view caption,
                     std::uint32_t style) override {
        Boxes.push_back({std::string(text), std::string(caption), style, owner != kNoWindow,
                         Pauses.size(), !locks_.empty()});
    }
    void Pause(std::uint32_t milliseconds) override { Pauses.push_back(milliseconds); }
    [[noreturn]] void EndProcess(std::uint32_t exitCode) override { throw ProcessEnded{exitCode}; }

  private:
    // The bytes of parts (read parts or file ranges) together, and the parts that hold the first
    // `n` of them, the last one cut.
    template <typename Part>
    static std::uint32_t Total(const Part* parts, std::size_t count) {
        std::uint32_t total = 0;
        for (std::size_t k = 0; k < count; ++k)
            total += parts[k].Size;
        return total;
    }
    template <typename Part>
    static std::vector<Part> FirstBytes(const Part* parts, std::size_t count, std::uint32_t n) {
        std::vector<Part> first;
        for (std::size_t k = 0; k < count && n > 0; n -= first.back().Size, ++k) {
            first.push_back(parts[k]);
            first.back().Size = std::min(first.back().Size, n);
        }
        return first;
    }
    bool Hit(Operation operation) {
        Meanwhile(operation);
        Operations.push_back(operation);
        const auto& f = InjectedFault;
        const auto number = f && f->Of ? std::count(Operations.begin(), Operations.end(), *f->Of)
                                       : static_cast<std::ptrdiff_t>(Operations.size());
        return f && f->Of.value_or(operation) == operation &&
               static_cast<std::size_t>(number) == f->At;
    }
    template <typename Call>
    SystemError Checked(Operation operation, Call call) {
        return Hit(operation) ? InjectedFault->Error : call();
    }
    template <typename Call>
    FileHandle Opened(Operation operation, SystemError* error, Call open) {
        if (Hit(operation)) {
            if (error != nullptr)
                *error = InjectedFault->Error;
            return kNoFile;
        }
        const FileHandle file = open();
        if (file != kNoFile)
            Live.insert(file);
        return file;
    }
    // A faulted transfer fails with the error, or moves half (always at least one byte short).
    template <typename Call>
    Transfer Faulted(Operation operation, std::uint32_t size, Call transfer) {
        if (Hit(operation))
            return InjectedFault->Error != 0 ? Transfer{InjectedFault->Error, 0}
                                             : transfer(size / 2);
        return transfer(size);
    }

    Platform& os_ = NativePlatform();
    std::set<LockHandle> locks_;
    Platform* previous_;
};

}  // namespace quelvane::testing
