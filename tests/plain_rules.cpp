#include "tests/plain_rules.h"

namespace quelvane::testing {
namespace {

bool SameKey(const TableEntry& a, const TableEntry& b) {
    return a.Entry.FileId == b.Entry.FileId && a.Entry.BlockId == b.Entry.BlockId;
}

void RemovePosition(std::vector<TableEntry>& table, std::size_t position) {
    table.erase(table.begin() + static_cast<std::ptrdiff_t>(position));
}

}  // namespace

void PlainPruneTargetDuplicates(std::vector<TableEntry>& target) {
    std::size_t i = 0;
    for (;;) {
        const std::size_t n = target.size();
        if (n == 0 || i >= n - 1)
            return;
        bool found = false;
        for (std::size_t j = i + 1; j < n; ++j) {
            if (SameKey(target[i], target[j])) {
                found = true;
                break;
            }
        }
        if (found) {
            RemovePosition(target, i);  // and look at the entry that moved into i
        } else {
            ++i;
        }
    }
}

void PlainMergePatch(std::vector<TableEntry>& target, std::vector<TableEntry>& patch) {
    // Replace pass, from the last patch position to the first.
    for (std::size_t a = patch.size(); a-- > 0;) {
        for (std::size_t i = 0; i < target.size(); ++i) {
            if (SameKey(target[i], patch[a])) {
                target[i] = patch[a];
                RemovePosition(patch, a);
                break;
            }
        }
    }
    // Insert pass, from the last patch position to the first.
    for (std::size_t b = patch.size(); b-- > 0;) {
        const std::int32_t f = patch[b].Entry.FileId;
        const std::int32_t blockId = patch[b].Entry.BlockId;
        const std::size_t n = target.size();
        bool placed = false;
        bool sawFileId = false;
        std::size_t behindLast = 0;
        for (std::size_t i = 0; i < n && !placed; ++i) {
            if (target[i].Entry.FileId != f)
                continue;
            if (target[i].Entry.BlockId > blockId) {
                target.insert(target.begin() + static_cast<std::ptrdiff_t>(i), patch[b]);
                placed = true;
            } else {
                sawFileId = true;
                behindLast = i + 1;
            }
        }
        if (!placed) {
            std::size_t place = n;
            if (sawFileId) {
                place = behindLast;
            } else {
                for (std::size_t i = 0; i < n; ++i) {
                    if (target[i].Entry.FileId > f) {
                        place = i;
                        break;
                    }
                }
            }
            target.insert(target.begin() + static_cast<std::ptrdiff_t>(place), patch[b]);
        }
        RemovePosition(patch, b);
    }
}

}  // namespace quelvane::testing
