// The pruning and merging rules applied position by position, as they are stated: the slow
// oracle that the fast engine is checked (and in bench/, timed) against.
#pragma once

#include <vector>

#include "engine/entry_table.h"

namespace quelvane::testing {

inline bool SameKey(const TableEntry& a, const TableEntry& b) {
    return EntryKey::Of(a.Entry) == EntryKey::Of(b.Entry);
}

// An entry with the key of a later one is removed; the one that moves up is looked at next.
inline void PlainPruneTargetDuplicates(std::vector<TableEntry>& target) {
    for (std::size_t i = 0; i + 1 < target.size();) {
        bool later = false;
        for (std::size_t j = i + 1; j < target.size() && !later; ++j)
            later = SameKey(target[i], target[j]);
        if (later)
            target.erase(target.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
}

// Returns how many patch entries took the place of a target entry.
inline std::size_t PlainMergePatch(std::vector<TableEntry>& target,
                                   std::vector<TableEntry>& patch) {
    const std::size_t count = patch.size();
    // From the last patch entry to the first: it takes the place of the first with its key.
    for (std::size_t a = patch.size(); a-- > 0;) {
        for (std::size_t i = 0; i < target.size(); ++i) {
            if (SameKey(target[i], patch[a])) {
                target[i] = patch[a];
                patch.erase(patch.begin() + static_cast<std::ptrdiff_t>(a));
                break;
            }
        }
    }
    const std::size_t replaced = count - patch.size();
    // From the last left to the first: in front of the first of its FileId with a greater
    // BlockId, else behind the last of its FileId, else in front of a greater FileId, else last.
    for (std::size_t b = patch.size(); b-- > 0;) {
        const IndexEntry& entry = patch[b].Entry;
        // Scanning backwards, the last match found is the first in list order.
        std::size_t place = target.size(), behindLast = 0, greaterFileId = target.size();
        for (std::size_t i = target.size(); i-- > 0;) {
            const IndexEntry& at = target[i].Entry;
            if (at.FileId == entry.FileId && at.BlockId > entry.BlockId)
                place = i;
            if (at.FileId == entry.FileId && behindLast == 0)
                behindLast = i + 1;
            if (at.FileId > entry.FileId)
                greaterFileId = i;
        }
        if (place == target.size())
            place = behindLast != 0 ? behindLast : greaterFileId;
        target.insert(target.begin() + static_cast<std::ptrdiff_t>(place), patch[b]);
        patch.erase(patch.begin() + static_cast<std::ptrdiff_t>(b));
    }
    return replaced;
}

}  // namespace quelvane::testing
