#include "engine/write_target_file.h"

#include <string>
#include <vector>

#include "engine/assign_offsets.h"
#include "engine/block_copy.h"
#include "engine/little_endian.h"
#include "engine/merge_patch.h"
#include "support/boxes.h"
#include "support/error_stop.h"
#include "support/io_check.h"
#include "support/locations.h"

namespace quelvane {
namespace {

// What keeps the merged table from being written, or empty when it fits.
std::string CheckLimits(const EntryTable& table) {
    const auto count = static_cast<std::int64_t>(table.Count());
    if (count > kMaxEntryCount) {
        return "the result has " + std::to_string(count) + " entries, " +
               std::to_string(count - kMaxEntryCount) + " more than the limit of " +
               std::to_string(kMaxEntryCount);
    }
    const std::int64_t size = WrittenFileSize(table);
    if (size > kMaxFileSize) {
        return "the result would be " + std::to_string(size) + " bytes long, " +
               std::to_string(size - kMaxFileSize) + " more than the limit of " +
               std::to_string(kMaxFileSize);
    }
    return {};
}

// The head and the whole index, as they go into the file in one write.
std::vector<unsigned char> EncodeHeadAndIndex(const EntryTable& table) {
    std::vector<unsigned char> bytes(
        static_cast<std::size_t>(kHeadSize + kIndexEntrySize * table.Count()));
    WriteInt32(bytes.data(), static_cast<std::int32_t>(table.Count()));
    unsigned char* out = bytes.data() + kHeadSize;
    for (const TableEntry& row : table.Entries) {
        const IndexEntry& entry = row.Entry;
        WriteInt32(out, entry.FileId);
        WriteInt32(out + 4, entry.BlockId);
        WriteInt32(out + 8, entry.Offset);
        WriteInt32(out + 12, entry.Length);
        WriteUint32(out + 16, entry.Extra);
        out += kIndexEntrySize;
    }
    return bytes;
}

bool Refuse(EntryTable& target, EntryTable& patch, std::string_view text) {
    ReleaseTable(patch);
    ReleaseTable(target);
    ShowErrorBox(text);
    return false;
}

}  // namespace

bool WriteTargetFile(EntryTable& target, EntryTable& patch) {
    MergePatch(target, patch);
    if (const std::string limit = CheckLimits(target); !limit.empty()) {
        return Refuse(target, patch, std::string(kWriteErrorText) + ": " + limit);
    }
    AssignOffsets(target);

    // A stale temporary file from an earlier crash is simply overwritten.
    const FileHandle file = Os().CreateAlways(kTemporaryFileName, nullptr);
    if (file == kNoFile)
        return Refuse(target, patch, kWriteErrorText);
    RemoveOnErrorStop(file, kTemporaryFileName);

    const std::vector<unsigned char> headAndIndex = EncodeHeadAndIndex(target);
    CheckedWrite(file, headAndIndex.data(), static_cast<std::uint32_t>(headAndIndex.size()),
                 kLocationWriteIndex);
    CopyBlocks(target, file);
    CheckedFlush(file, kLocationFlushTarget);
    RemoveOnErrorStop(kNoFile, kTemporaryFileName);  // closed below, whatever the outcome
    CheckedClose(file, kLocationCloseTarget);

    // The sources are closed before the replace: Windows cannot replace a file that is open.
    ReleaseTable(patch);
    ReleaseTable(target);
    if (Os().Replace(kTemporaryFileName, kTargetFileName) != 0) {
        (void)Os().Remove(kTemporaryFileName);
        ForgetRemoveOnErrorStop();
        ShowErrorBox(kWriteErrorText);
        return false;
    }
    ForgetRemoveOnErrorStop();
    return true;
}

}  // namespace quelvane
