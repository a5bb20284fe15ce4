#include "engine/assign_offsets.h"

namespace quelvane {

std::int64_t WrittenFileSize(const EntryTable& table) {
    std::int64_t size = kHeadSize + kIndexEntrySize * static_cast<std::int64_t>(table.Count());
    for (const TableEntry& row : table.Entries) {
        if (row.Entry.HasData())
            size += row.Entry.Length;
    }
    return size;
}

void AssignOffsets(EntryTable& table) {
    std::int64_t position = kHeadSize + kIndexEntrySize * static_cast<std::int64_t>(table.Count());
    for (TableEntry& row : table.Entries) {
        IndexEntry& entry = row.Entry;
        if (!entry.HasData()) {
            entry.Length = 0;
            continue;
        }
        entry.Offset = static_cast<std::int32_t>(position);
        position += entry.Length;
    }
}

}  // namespace quelvane
