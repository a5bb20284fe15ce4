#include "engine/prune_target_duplicates.h"

#include "engine/change_list.h"
#include "engine/key_positions.h"
#include "engine/write_target_file.h"

namespace quelvane {

namespace {

void ListDropped(const TableEntry& row) {
    ListChange({Change::DroppedDuplicate, kTargetFileName, row.Entry.FileId, row.Entry.BlockId,
                row.Entry.Length, kNoLength});
}

// In a table sorted by key the entries of one key stand together: keep the last of each run.
void KeepLastOfEachRun(std::vector<TableEntry>& entries) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const bool lastOfRun = i + 1 == entries.size() ||
                               EntryKey::Of(entries[i + 1].Entry) != EntryKey::Of(entries[i].Entry);
        if (lastOfRun)
            entries[kept++] = entries[i];
        else if (ListingChanges())
            ListDropped(entries[i]);
    }
    entries.resize(kept);
}

}  // namespace

std::size_t PruneTargetDuplicates(EntryTable& target) {
    auto& entries = target.Entries;
    const std::size_t before = entries.size();
    if (IsSortedByKey(entries)) {
        KeepLastOfEachRun(entries);
        return before - entries.size();
    }
    KeyPositions last(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        last.Put(EntryKey::Of(entries[i].Entry), i, /*overwrite=*/true);
    }
    // One compaction pass: an entry survives when no later entry has its key.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (last.Find(EntryKey::Of(entries[i].Entry)) == i)
            entries[kept++] = entries[i];
        else if (ListingChanges())
            ListDropped(entries[i]);
    }
    entries.resize(kept);
    return before - kept;
}

}  // namespace quelvane
