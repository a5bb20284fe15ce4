// The pruning and merging rules applied position by position, exactly as they are stated: scans,
// removals and one insertion at a time. Slow (quadratic), and kept only as the oracle that the
// fast engine is checked against.
#pragma once

#include <vector>

#include "engine/entry_table.h"

namespace quelvane::testing {

void PlainPruneTargetDuplicates(std::vector<TableEntry>& target);
void PlainMergePatch(std::vector<TableEntry>& target, std::vector<TableEntry>& patch);

}  // namespace quelvane::testing
