#pragma once

#include "engine/entry_table.h"

namespace quelvane {

// Folds every patch entry into the target and empties the patch.
//
// A patch entry whose key the target holds takes that target entry's place; when the patch holds
// such a key more than once, the entry that comes first in the patch stays. Every other patch
// entry is inserted among the entries of its FileId: in front of the first one (in list order)
// with a greater BlockId, else behind the last one; with no entry of its FileId, in front of the
// first entry with a greater FileId, else at the end. New entries are placed from the last patch
// position to the first, each seeing those placed before it, so equal new keys end up next to
// each other in the reverse of their patch order.
//
// Cost: O((n + p) log(n + p)) for any target, sorted or not.
//
// Returns how many patch entries took the place of a target entry, how many went in anew, and
// how many an earlier patch entry of their key superseded (they are not in the result); together
// they are all of the patch's entries.
struct MergeCounts {
    std::size_t Replaced = 0;
    std::size_t Added = 0;
    std::size_t Superseded = 0;
};
MergeCounts MergePatch(EntryTable& target, EntryTable& patch);

}  // namespace quelvane
