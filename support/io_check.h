// File operations followed by the I/O check: each one either does exactly what was asked or
// starts the error stop with the operation's error number and the caller's location.
#pragma once

#include <cstdint>

#include "support/platform.h"

namespace quelvane {

// Passes only when exactly `size` bytes were read; a short read stops with 100.
void CheckedRead(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t location);
// The same for `size` bytes at `position`.
void CheckedReadAt(FileHandle file, std::int64_t position, void* buffer, std::uint32_t size,
                   std::uint32_t location);
// The same for a scattered read that fills every part.
void CheckedReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                          std::size_t count, std::uint32_t location);
// Passes only when exactly `size` bytes were written; a short write stops with 101.
void CheckedWrite(FileHandle file, const void* buffer, std::uint32_t size, std::uint32_t location);
void CheckedSeek(FileHandle file, std::int32_t position, std::uint32_t location);
std::int64_t CheckedSize(FileHandle file, std::uint32_t location);
void CheckedFlush(FileHandle file, std::uint32_t location);
void CheckedClose(FileHandle file, std::uint32_t location);

}  // namespace quelvane
