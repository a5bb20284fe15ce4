// Whether a run would change anything: a second run of the same patch finds its result already
// in the file, and writes nothing.
#pragma once

#include "engine/entry_table.h"

namespace quelvane {

// Whether the file `table` was loaded from (its first source, still open) holds, byte for byte,
// what `table` (merged and laid out) would be written as: the same length, the same head and
// index, and every block that would be written at a place other than where it lies in that file
// equal to that file's bytes at that place. A block that would stay where it is is never read, so
// the check costs what the patch costs, not what the file does. A read that fails ends in the
// error stop, as in the write.
bool AlreadyHolds(const EntryTable& table);

}  // namespace quelvane
