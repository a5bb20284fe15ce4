#include "support/io_check.h"

#include "support/error_stop.h"

namespace quelvane {
namespace {

void Check(SystemError error, std::uint32_t location) {
    if (error != 0)
        ErrorStop(error, location);
}

void CheckTransfer(const Transfer& done, std::uint32_t size, std::uint32_t shortNumber,
                   std::uint32_t location) {
    Check(done.error, location);  // the system's refusal outranks a short count
    if (done.moved != size)
        ErrorStop(shortNumber, location);
}

}  // namespace

void CheckedRead(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t location) {
    if (size == 0)
        return;  // a request for nothing always passes
    CheckTransfer(Os().Read(file, buffer, size), size, kErrorShortRead, location);
}

void CheckedReadAt(FileHandle file, std::int64_t position, void* buffer, std::uint32_t size,
                   std::uint32_t location) {
    if (size == 0)
        return;
    CheckTransfer(Os().ReadAt(file, position, buffer, size), size, kErrorShortRead, location);
}

void CheckedReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                          std::size_t count, std::uint32_t location) {
    std::uint32_t size = 0;
    for (std::size_t k = 0; k < count; ++k)
        size += parts[k].Size;
    if (size == 0)
        return;
    CheckTransfer(Os().ReadScattered(file, position, parts, count), size, kErrorShortRead,
                  location);
}

void CheckedWrite(FileHandle file, const void* buffer, std::uint32_t size, std::uint32_t location) {
    if (size == 0)
        return;
    CheckTransfer(Os().Write(file, buffer, size), size, kErrorShortWrite, location);
}

void CheckedSeek(FileHandle file, std::int32_t position, std::uint32_t location) {
    Check(Os().Seek(file, position), location);
}

std::int64_t CheckedSize(FileHandle file, std::uint32_t location) {
    std::int64_t size = 0;
    Check(Os().Size(file, &size), location);
    return size;
}

void CheckedFlush(FileHandle file, std::uint32_t location) {
    Check(Os().Flush(file), location);
}

void CheckedClose(FileHandle file, std::uint32_t location) {
    Check(Os().Close(file), location);
}

}  // namespace quelvane
