// Copying the blocks of a table into the file being written, straight from their source files.
#pragma once

#include "engine/entry_table.h"

namespace quelvane {

// Appends every block of `table` with data, in table order, to `target` at its current position.
// Blocks that follow one another in the same source are copied as one range; each range goes
// through the system's in-kernel copy where it has one, else through one large buffer with
// sequential reads and writes. Reports the bytes of the new file written so far as it goes, from
// `written` (the head and index before the blocks) of `total`. Any failure ends in the error stop.
void CopyBlocks(const EntryTable& table, FileHandle target, std::int64_t written,
                std::int64_t total);

// Appends all of `source` to `target` the same way, reporting no progress: a copy of a file.
void CopyWholeFile(const SourceFile& source, FileHandle target);

}  // namespace quelvane
