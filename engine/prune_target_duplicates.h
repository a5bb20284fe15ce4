#pragma once

#include "engine/entry_table.h"

namespace quelvane {

// Leaves one entry per EntryKey: the one that stands last. Survivors keep their relative order;
// the removed entries go with their blocks. Linear in the table's size. Returns how many went.
std::size_t PruneTargetDuplicates(EntryTable& target);

}  // namespace quelvane
