#include "tests/test_platform.h"

#include <algorithm>
#include <cstring>

namespace quelvane::testing {
namespace {
// Error numbers in the manner of the system's own, for the in-memory file system.
constexpr SystemError kNotFound = 2;
constexpr SystemError kAccessDenied = 5;
constexpr SystemError kBadHandle = 6;
constexpr SystemError kNegativeSeek = 131;
}  // namespace

MemoryFileSystem::Open* MemoryFileSystem::Find(FileHandle file) {
    auto it = open_.find(file);
    return it == open_.end() ? nullptr : &it->second;
}

FileHandle MemoryFileSystem::OpenExisting(std::string_view name, OpenMode mode,
                                          SystemError* error) {
    const std::string key(name);
    SystemError refused = 0;
    if (Files.count(key) == 0)
        refused = kNotFound;
    else if (mode == OpenMode::ReadWrite && ReadOnly[key])
        refused = kAccessDenied;
    if (refused != 0) {
        if (error != nullptr)
            *error = refused;
        return kNoFile;
    }
    open_[next_] = {key, 0, mode == OpenMode::ReadWrite};
    return next_++;
}

FileHandle MemoryFileSystem::CreateAlways(std::string_view name, SystemError* error) {
    const std::string key(name);
    if (ReadOnly[key]) {
        if (error != nullptr)
            *error = kAccessDenied;
        return kNoFile;
    }
    Files[key].clear();
    open_[next_] = {key, 0, true};
    return next_++;
}

Transfer MemoryFileSystem::Read(FileHandle file, void* buffer, std::uint32_t size) {
    Open* open = Find(file);
    if (open == nullptr)
        return {kBadHandle, 0};
    const Bytes& bytes = Files[open->Name];
    const std::int64_t available =
        std::max<std::int64_t>(0, static_cast<std::int64_t>(bytes.size()) - open->Position);
    const auto moved = static_cast<std::uint32_t>(std::min<std::int64_t>(available, size));
    if (moved > 0)
        std::memcpy(buffer, bytes.data() + open->Position, moved);
    open->Position += moved;
    return {0, moved};
}

Transfer MemoryFileSystem::ReadAt(FileHandle file, std::int64_t position, void* buffer,
                                  std::uint32_t size) {
    Open* open = Find(file);
    if (open == nullptr)
        return {kBadHandle, 0};
    open->Position = position;
    return Read(file, buffer, size);
}

Transfer MemoryFileSystem::ReadScattered(FileHandle file, std::int64_t position,
                                         const ReadPart* parts, std::size_t count) {
    Transfer result;
    for (std::size_t k = 0; k < count && result.error == 0; ++k) {
        const Transfer part = ReadAt(file, position + result.moved, parts[k].Buffer, parts[k].Size);
        result = {part.error, result.moved + part.moved};
        if (part.moved < parts[k].Size)
            break;
    }
    return result;
}

Transfer MemoryFileSystem::Write(FileHandle file, const void* buffer, std::uint32_t size) {
    Open* open = Find(file);
    if (open == nullptr || !open->Writable)
        return {kBadHandle, 0};
    Bytes& bytes = Files[open->Name];
    const auto end = static_cast<std::size_t>(open->Position) + size;
    if (bytes.size() < end)
        bytes.resize(end);
    if (size > 0)
        std::memcpy(bytes.data() + open->Position, buffer, size);
    open->Position += size;
    return {0, size};
}

Transfer MemoryFileSystem::CopyRange(FileHandle source, std::int64_t sourcePosition,
                                     FileHandle target, std::uint32_t size) {
    if (!KernelCopy)
        return {kCopyUnsupported, 0};
    Open* from = Find(source);
    if (from == nullptr)
        return {kBadHandle, 0};
    const Bytes copy = Files[from->Name];
    const std::int64_t available =
        std::max<std::int64_t>(0, static_cast<std::int64_t>(copy.size()) - sourcePosition);
    const auto moved = static_cast<std::uint32_t>(std::min<std::int64_t>(available, size));
    return Write(target, copy.data() + sourcePosition, moved);
}

SystemError MemoryFileSystem::Seek(FileHandle file, std::int32_t position) {
    Open* open = Find(file);
    if (open == nullptr)
        return kBadHandle;
    if (position < 0)
        return kNegativeSeek;
    open->Position = position;
    return 0;
}

SystemError MemoryFileSystem::Size(FileHandle file, std::int64_t* size) {
    Open* open = Find(file);
    if (open == nullptr)
        return kBadHandle;
    *size = static_cast<std::int64_t>(Files[open->Name].size());
    return 0;
}

SystemError MemoryFileSystem::Flush(FileHandle file) {
    return Find(file) ? 0 : kBadHandle;
}

SystemError MemoryFileSystem::Close(FileHandle file) {
    return open_.erase(file) == 1 ? 0 : kBadHandle;
}

SystemError MemoryFileSystem::Replace(std::string_view replacement, std::string_view target) {
    const std::string from(replacement);
    const std::string to(target);
    if (Files.count(from) == 0)
        return kNotFound;
    for (const auto& [handle, open] : open_) {
        if (open.Name == to || open.Name == from)
            return kAccessDenied;  // in use
    }
    Files[to] = std::move(Files[from]);
    Files.erase(from);
    return 0;
}

SystemError MemoryFileSystem::Remove(std::string_view name) {
    return Files.erase(std::string(name)) == 1 ? 0 : kNotFound;
}

const char* OperationName(Operation operation) {
    static constexpr const char* kNames[] = {"open", "create", "read",  "write",   "copy",  "seek",
                                             "size", "flush",  "close", "replace", "remove"};
    return kNames[static_cast<int>(operation)];
}

std::optional<Fault> TestPlatform::Next(Operation operation) {
    Operations.push_back(operation);
    if (InjectedFault && InjectedFault->At == Operations.size()) {
        FaultHit = true;
        return InjectedFault;
    }
    return std::nullopt;
}

FileHandle TestPlatform::OpenExisting(std::string_view name, OpenMode mode, SystemError* error) {
    if (auto fault = Next(Operation::Open)) {
        if (error != nullptr)
            *error = fault->Error;
        return kNoFile;
    }
    const FileHandle file = inner_.OpenExisting(name, mode, error);
    if (file != kNoFile)
        Live.insert(file);
    return file;
}

FileHandle TestPlatform::CreateAlways(std::string_view name, SystemError* error) {
    if (auto fault = Next(Operation::Create)) {
        if (error != nullptr)
            *error = fault->Error;
        return kNoFile;
    }
    const FileHandle file = inner_.CreateAlways(name, error);
    if (file != kNoFile)
        Live.insert(file);
    return file;
}

// A fault on a transfer: the system's error, or a short transfer that moves half of what was
// asked (at least one byte less than asked). `transfer(size)` does the real one.
template <typename Call>
Transfer TestPlatform::Faulted(Operation operation, std::uint32_t size, Call transfer) {
    if (auto fault = Next(operation)) {
        if (fault->Error != 0)
            return {fault->Error, 0};
        return transfer(size / 2);
    }
    return transfer(size);
}

Transfer TestPlatform::Read(FileHandle file, void* buffer, std::uint32_t size) {
    return Faulted(Operation::Read, size,
                   [&](std::uint32_t n) { return inner_.Read(file, buffer, n); });
}

// A positioned read is a read to the fault plan: the same faults hit it.
Transfer TestPlatform::ReadAt(FileHandle file, std::int64_t position, void* buffer,
                              std::uint32_t size) {
    return Faulted(Operation::Read, size,
                   [&](std::uint32_t n) { return inner_.ReadAt(file, position, buffer, n); });
}

// A short scattered read fills the first half of the bytes asked for.
Transfer TestPlatform::ReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                                     std::size_t count) {
    std::uint32_t total = 0;
    for (std::size_t k = 0; k < count; ++k)
        total += parts[k].Size;
    return Faulted(Operation::Read, total, [&](std::uint32_t n) {
        std::vector<ReadPart> first;
        for (std::size_t k = 0; k < count && n > 0; ++k) {
            first.push_back({parts[k].Buffer, std::min(parts[k].Size, n)});
            n -= first.back().Size;
        }
        return inner_.ReadScattered(file, position, first.data(), first.size());
    });
}

Transfer TestPlatform::Write(FileHandle file, const void* buffer, std::uint32_t size) {
    return Faulted(Operation::Write, size,
                   [&](std::uint32_t n) { return inner_.Write(file, buffer, n); });
}

Transfer TestPlatform::CopyRange(FileHandle source, std::int64_t sourcePosition, FileHandle target,
                                 std::uint32_t size) {
    return Faulted(Operation::Copy, size, [&](std::uint32_t n) {
        return inner_.CopyRange(source, sourcePosition, target, n);
    });
}

SystemError TestPlatform::Seek(FileHandle file, std::int32_t position) {
    if (auto fault = Next(Operation::Seek))
        return fault->Error;
    return inner_.Seek(file, position);
}

SystemError TestPlatform::Size(FileHandle file, std::int64_t* size) {
    if (auto fault = Next(Operation::Size))
        return fault->Error;
    return inner_.Size(file, size);
}

SystemError TestPlatform::Flush(FileHandle file) {
    if (auto fault = Next(Operation::Flush))
        return fault->Error;
    return inner_.Flush(file);
}

SystemError TestPlatform::Close(FileHandle file) {
    // A failed close still releases the handle, as close(2) and CloseHandle do.
    const SystemError error = inner_.Close(file);
    Live.erase(file);
    if (auto fault = Next(Operation::Close))
        return fault->Error;
    return error;
}

SystemError TestPlatform::Replace(std::string_view replacement, std::string_view target) {
    if (auto fault = Next(Operation::Replace))
        return fault->Error;
    return inner_.Replace(replacement, target);
}

SystemError TestPlatform::Remove(std::string_view name) {
    if (auto fault = Next(Operation::Remove))
        return fault->Error;
    return inner_.Remove(name);
}

void TestPlatform::ShowMessage(WindowHandle owner, std::string_view text, std::string_view caption,
                               std::uint32_t style) {
    Boxes.push_back({std::string(text), std::string(caption), style, owner != kNoWindow});
}

}  // namespace quelvane::testing
