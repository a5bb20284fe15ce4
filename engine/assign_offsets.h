#pragma once

#include <cstdint>

#include "engine/entry_table.h"

namespace quelvane {

// The size of the file that `table` is written as: head, index, and every block back to back.
std::int64_t WrittenFileSize(const EntryTable& table);

// Lays out the blocks back to back in table order, the first right behind the index. Entries
// without data keep Offset -1 and Length 0; the entries' old offsets play no part. The caller has
// checked that the table fits the format's limits (count and size).
void AssignOffsets(EntryTable& table);

}  // namespace quelvane
