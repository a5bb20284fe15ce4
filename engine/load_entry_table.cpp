#include "engine/load_entry_table.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/change_list.h"
#include "engine/little_endian.h"
#include "support/boxes.h"
#include "support/error_stop.h"
#include "support/io_check.h"
#include "support/locations.h"

namespace quelvane {
namespace {

// What is wrong with a damaged file, or empty when nothing is.
using Complaint = std::string;

Complaint CheckEntryCount(std::int32_t count) {
    if (count < 0)
        return "entry count " + std::to_string(count) + " is below 0";
    if (count > kMaxEntryCount) {
        return "entry count " + std::to_string(count) + " is above " +
               std::to_string(kMaxEntryCount);
    }
    return {};
}

// The index is read in slices of this many records, each parsed straight into the table: neither
// a copy of the whole index nor a list of its records is ever held beside the table.
constexpr std::int32_t kSliceRecords = 4096;

// "verdata.mul: entry 3 (FileId 1, BlockId 2): its block ends past the end of the file (offset
// 40, length 50, file 84 bytes)": made only for a stop, never for a block that is fine.
std::string BlockDetail(const std::string& name, std::int32_t record, const IndexEntry& entry,
                        const char* what, std::int64_t fileSize) {
    return name + ": entry " + std::to_string(record) + " (FileId " + std::to_string(entry.FileId) +
           ", BlockId " + std::to_string(entry.BlockId) + "): its block " + what +
           " of the file (offset " + std::to_string(entry.Offset) + ", length " +
           std::to_string(entry.Length) + ", file " + std::to_string(fileSize) + " bytes)";
}

bool IsNoDataMarker(const IndexEntry& entry) {
    return entry.Length == -1 || entry.Length == 0 || entry.Offset == -1 || entry.Offset == 0;
}

// Kept out of the loading loop, which runs once per entry whether or not changes are listed.
[[gnu::cold, gnu::noinline]] void ListLeftOut(std::string_view name, const IndexEntry& entry) {
    ListChange({Change::LeftOut, name, entry.FileId, entry.BlockId,
                IsNoDataMarker(entry) ? 0 : entry.Length, kNoLength});
}

}  // namespace

std::string DisplayName(std::string_view fileName) {
    std::string name(fileName);
    if (!name.empty() && name[0] >= 'a' && name[0] <= 'z')
        name[0] = static_cast<char>(name[0] - 32);
    return name;
}

bool LoadEntryTable(std::string_view fileName, std::string_view openErrorText, EntryTable& table,
                    OpenMode mode) {
    return LoadEntryTable(FinalPlace{kCurrentDirectory, std::string(fileName)}, fileName,
                          openErrorText, table, mode);
}

bool LoadEntryTable(const FinalPlace& file, std::string_view fileName,
                    std::string_view openErrorText, EntryTable& table, OpenMode mode) {
    ReleaseTable(table);  // each load builds its table afresh
    SystemError openError = 0;
    const FileHandle handle = Os().OpenExisting(file.Directory, file.Name, mode, &openError);
    if (handle == kNoFile) {
        ShowErrorBox(openErrorText, openError);
        return false;
    }
    // From here the table owns the open file: releasing it closes the file.
    auto source = std::make_shared<SourceFile>(handle, 0);
    table.Sources.push_back(source);
    source->Size = CheckedSize(handle, kLocationSizeSource);
    const auto refuse = [&](const Complaint& complaint) {
        ReleaseTable(table);
        ShowErrorBox("Error reading " + DisplayName(fileName) + ": " + complaint);
        return false;
    };

    // Where a file is too short for what it claims, the stop says which file and what.
    const std::string name(fileName);
    const auto fileBytes = " (file " + std::to_string(source->Size) + " bytes)";
    if (source->Size < kHeadSize) {
        SetStopDetail(name + ": the file ends inside its 4-byte entry count" + fileBytes);
        ErrorStop(kErrorShortRead, kLocationReadHead);
    }
    unsigned char head[kHeadSize];
    CheckedRead(handle, head, sizeof head, kLocationReadHead);
    const std::int32_t count = ReadInt32(head);
    if (const Complaint complaint = CheckEntryCount(count); !complaint.empty()) {
        return refuse(complaint);
    }

    // A file too short for its index stops here, before the index is allocated.
    const std::int64_t indexSize = kIndexEntrySize * count;
    if (source->Size < kHeadSize + indexSize) {
        SetStopDetail(name + ": its index of " + std::to_string(count) + " entries ends at byte " +
                      std::to_string(kHeadSize + indexSize) + ", past the end of the file" +
                      fileBytes);
        ErrorStop(kErrorShortRead, kLocationReadIndex);
    }
    std::vector<unsigned char> slice(
        static_cast<std::size_t>(kIndexEntrySize * std::min(count, kSliceRecords)));
    table.Entries.reserve(static_cast<std::size_t>(count));

    // The blocks come up in index order. Each is checked where a read of it would fail, but not
    // read: the writer copies it straight from this file later. Records with a FileId above
    // MaxFileId are dropped, with their data.
    for (std::int32_t record = 0; record < count; ++record) {
        const std::int32_t inSlice = record % kSliceRecords;
        if (inSlice == 0) {
            const std::int32_t records = std::min(count - record, kSliceRecords);
            CheckedRead(handle, slice.data(), static_cast<std::uint32_t>(kIndexEntrySize * records),
                        kLocationReadIndex);
        }
        const unsigned char* bytes = slice.data() + kIndexEntrySize * inSlice;
        IndexEntry entry{ReadInt32(bytes), ReadInt32(bytes + 4), ReadInt32(bytes + 8),
                         ReadInt32(bytes + 12), ReadUint32(bytes + 16)};
        if (entry.FileId > MaxFileId) {
            ++table.LeftOut;
            if (ListingChanges()) [[unlikely]]
                ListLeftOut(name, entry);
            continue;
        }
        if (IsNoDataMarker(entry)) {
            entry.Offset = kNoDataOffset;
            entry.Length = 0;
            table.Entries.push_back({entry, DataBlock{}});
            continue;
        }
        if (entry.Length < -1) {
            return refuse("entry " + std::to_string(record) + " (FileId " +
                          std::to_string(entry.FileId) + ", BlockId " +
                          std::to_string(entry.BlockId) + ") has length " +
                          std::to_string(entry.Length) + ", below -1");
        }
        // A negative position is refused by the system itself, with its own error number.
        if (entry.Offset < 0) {
            SetStopDetail(
                BlockDetail(name, record, entry, "starts before the start", source->Size));
            CheckedSeek(handle, entry.Offset, kLocationSeekBlock);
        }
        if (entry.Offset < 0 ||
            static_cast<std::int64_t>(entry.Offset) + entry.Length > source->Size) {
            SetStopDetail(BlockDetail(name, record, entry, "ends past the end", source->Size));
            ErrorStop(kErrorShortRead, kLocationBlockBounds);
        }
        table.Entries.push_back({entry, DataBlock{source.get(), entry.Offset, entry.Length}});
    }
    return true;
}

}  // namespace quelvane
