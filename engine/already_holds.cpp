#include "engine/already_holds.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/assign_offsets.h"
#include "engine/index_slices.h"
#include "support/io_check.h"
#include "support/locations.h"

namespace quelvane {
namespace {

constexpr std::uint32_t kCompareChunk = 256 * 1024;

// Whether `size` bytes at `position` of `file` equal `expected`.
bool SameBytes(FileHandle file, std::int64_t position, const unsigned char* expected,
               std::uint32_t size, std::vector<unsigned char>& buffer) {
    buffer.resize(std::max<std::size_t>(buffer.size(), size));
    CheckedReadAt(file, position, buffer.data(), size, kLocationReadCompare);
    return std::memcmp(buffer.data(), expected, size) == 0;
}

}  // namespace

bool AlreadyHolds(const EntryTable& table) {
    if (table.Sources.empty())
        return false;
    const SourceFile& file = *table.Sources.front();
    if (WrittenFileSize(table) != file.Size)
        return false;
    std::vector<unsigned char> buffer;
    bool same = true;
    std::int64_t position = 0;
    ForEachIndexSlice(table, [&](const unsigned char* bytes, std::uint32_t size) {
        same = same && SameBytes(file.Handle, position, bytes, size, buffer);
        position += size;
    });
    std::vector<unsigned char> block;
    for (auto row = table.Entries.begin(); same && row != table.Entries.end(); ++row) {
        const DataBlock& from = row->Block;
        if (from.Empty() || (from.Source == &file && from.Offset == row->Entry.Offset))
            continue;
        for (std::int64_t done = 0; same && done < from.Length;) {
            const auto size = static_cast<std::uint32_t>(
                std::min<std::int64_t>(kCompareChunk, from.Length - done));
            block.resize(std::max<std::size_t>(block.size(), size));
            CheckedReadAt(from.Source->Handle, from.Offset + done, block.data(), size,
                          kLocationReadCompare);
            same = SameBytes(file.Handle, row->Entry.Offset + done, block.data(), size, buffer);
            done += size;
        }
    }
    return same;
}

}  // namespace quelvane
