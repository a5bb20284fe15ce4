#include "tests/test_platform.h"

#include <algorithm>

namespace quelvane::testing {

const char* OperationName(Operation operation) {
    static constexpr const char* kNames[] = {"open",  "create",     "read",    "write",  "copy",
                                             "seek",  "size",       "flush",   "close",  "attributes",
                                             "resolve", "replace", "remove"};
    return kNames[static_cast<int>(operation)];
}

std::vector<std::string> TestPlatform::BoxTexts() const {
    std::vector<std::string> texts;
    for (const Box& box : Boxes)
        texts.push_back(box.Text);
    return texts;
}

std::optional<Fault> TestPlatform::Next(Operation operation) {
    Operations.push_back(operation);
    const auto number = InjectedFault && InjectedFault->Of
                            ? std::count(Operations.begin(), Operations.end(), *InjectedFault->Of)
                            : static_cast<std::ptrdiff_t>(Operations.size());
    if (InjectedFault && (!InjectedFault->Of || operation == *InjectedFault->Of) &&
        static_cast<std::size_t>(number) == InjectedFault->At) {
        FaultHit = true;
        return InjectedFault;
    }
    return std::nullopt;
}

template <typename Call>
SystemError TestPlatform::Checked(Operation operation, Call call) {
    if (auto fault = Next(operation))
        return fault->Error;
    return call();
}

template <typename Call>
FileHandle TestPlatform::Opened(Operation operation, SystemError* error, Call open) {
    if (auto fault = Next(operation)) {
        if (error != nullptr)
            *error = fault->Error;
        return kNoFile;
    }
    const FileHandle file = open();
    if (file != kNoFile)
        Live.insert(file);
    return file;
}

// A faulted transfer reports the system's error, or comes up short: it moves half of what was
// asked for, so always at least one byte less. `transfer(size)` does the real one.
template <typename Call>
Transfer TestPlatform::Faulted(Operation operation, std::uint32_t size, Call transfer) {
    if (auto fault = Next(operation))
        return fault->Error != 0 ? Transfer{fault->Error, 0} : transfer(size / 2);
    return transfer(size);
}

FileHandle TestPlatform::OpenExisting(std::string_view name, OpenMode mode, SystemError* error) {
    return Opened(Operation::Open, error, [&] {
        if (mode == OpenMode::ReadWrite && WriteProtected.count(std::string(name)) != 0) {
            if (error != nullptr)
                *error = 13;  // no test looks at the number
            return kNoFile;
        }
        return inner_.OpenExisting(name, mode, error);
    });
}

FileHandle TestPlatform::CreateNew(std::string_view name, SystemError* error) {
    return Opened(Operation::Create, error, [&] { return inner_.CreateNew(name, error); });
}

Transfer TestPlatform::Read(FileHandle file, void* buffer, std::uint32_t size) {
    return Faulted(Operation::Read, size,
                   [&](std::uint32_t n) { return inner_.Read(file, buffer, n); });
}

Transfer TestPlatform::Write(FileHandle file, const void* buffer, std::uint32_t size) {
    return Faulted(Operation::Write, size,
                   [&](std::uint32_t n) { return inner_.Write(file, buffer, n); });
}

Transfer TestPlatform::ReadAt(FileHandle file, std::int64_t position, void* buffer,
                              std::uint32_t size) {
    return Faulted(Operation::Read, size,
                   [&](std::uint32_t n) { return inner_.ReadAt(file, position, buffer, n); });
}

// Short, a scattered read fills the parts in turn up to half the bytes asked for.
Transfer TestPlatform::ReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                                     std::size_t count) {
    std::uint32_t total = 0;
    for (std::size_t k = 0; k < count; ++k)
        total += parts[k].Size;
    return Faulted(Operation::Read, total, [&](std::uint32_t n) {
        std::vector<ReadPart> first;
        for (std::size_t k = 0; k < count && n > 0; n -= first.back().Size, ++k)
            first.push_back({parts[k].Buffer, std::min(parts[k].Size, n)});
        return inner_.ReadScattered(file, position, first.data(), first.size());
    });
}

Transfer TestPlatform::CopyRange(FileHandle source, std::int64_t sourcePosition, FileHandle target,
                                 std::uint32_t size) {
    return Faulted(Operation::Copy, size, [&](std::uint32_t n) {
        return KernelCopy ? inner_.CopyRange(source, sourcePosition, target, n)
                          : Transfer{kCopyUnsupported, 0};
    });
}

SystemError TestPlatform::Seek(FileHandle file, std::int32_t position) {
    return Checked(Operation::Seek, [&] { return inner_.Seek(file, position); });
}

SystemError TestPlatform::Size(FileHandle file, std::int64_t* size) {
    return Checked(Operation::Size, [&] { return inner_.Size(file, size); });
}

SystemError TestPlatform::Flush(FileHandle file) {
    return Checked(Operation::Flush, [&] { return inner_.Flush(file); });
}

// A failed close still releases the handle, as close(2) and CloseHandle do.
SystemError TestPlatform::Close(FileHandle file) {
    const SystemError real = inner_.Close(file);
    Live.erase(file);
    return Checked(Operation::Close, [&] { return real; });
}

SystemError TestPlatform::KeepAttributes(FileHandle model, FileHandle file) {
    return Checked(Operation::Attributes, [&] { return inner_.KeepAttributes(model, file); });
}

SystemError TestPlatform::FinalName(std::string_view name, std::string* finalName) {
    return Checked(Operation::Resolve, [&] { return inner_.FinalName(name, finalName); });
}

SystemError TestPlatform::Replace(std::string_view replacement, std::string_view target) {
    return Checked(Operation::Replace, [&] { return inner_.Replace(replacement, target); });
}

SystemError TestPlatform::Remove(std::string_view name) {
    return Checked(Operation::Remove, [&] { return inner_.Remove(name); });
}

}  // namespace quelvane::testing
