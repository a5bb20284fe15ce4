// The head and the index of a laid-out table as the bytes of the file, in slices of a few
// thousand records, so that the index of a large table is never held whole beside the table.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/entry_table.h"
#include "engine/little_endian.h"

namespace quelvane {

// Calls `take(bytes, size)` for each slice, in file order, from the head on.
template <typename Take>
void ForEachIndexSlice(const EntryTable& table, Take take) {
    constexpr std::size_t kSliceRecords = 4096;
    std::vector<unsigned char> slice(static_cast<std::size_t>(
        kHeadSize +
        kIndexEntrySize * static_cast<std::int64_t>(std::min(table.Count(), kSliceRecords))));
    WriteInt32(slice.data(), static_cast<std::int32_t>(table.Count()));
    std::size_t used = kHeadSize;
    for (const TableEntry& row : table.Entries) {
        if (used + kIndexEntrySize > slice.size()) {
            take(slice.data(), static_cast<std::uint32_t>(used));
            used = 0;
        }
        const IndexEntry& entry = row.Entry;
        unsigned char* out = slice.data() + used;
        WriteInt32(out, entry.FileId);
        WriteInt32(out + 4, entry.BlockId);
        WriteInt32(out + 8, entry.Offset);
        WriteInt32(out + 12, entry.Length);
        WriteUint32(out + 16, entry.Extra);
        used += kIndexEntrySize;
    }
    take(slice.data(), static_cast<std::uint32_t>(used));
}

}  // namespace quelvane
