// The in-memory form of an indexed data file: its kept index entries, each with the place of its
// data block.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "support/platform.h"

namespace quelvane {

// Entries with a greater FileId (signed) are dropped on loading.
inline constexpr std::int32_t MaxFileId = 33;
// The most entries a file may count, and the most a written file may hold.
inline constexpr std::int64_t kMaxEntryCount = 65535;
// Offsets are signed 32-bit: no written file may be longer than this.
inline constexpr std::int64_t kMaxFileSize = 2147483647;
inline constexpr std::int64_t kHeadSize = 4;
inline constexpr std::int64_t kIndexEntrySize = 20;
// An entry without data carries this Offset (and Length 0).
inline constexpr std::int32_t kNoDataOffset = -1;

// One 20-byte index record, fields in file order, all little-endian.
struct IndexEntry {
    std::int32_t FileId = 0;
    std::int32_t BlockId = 0;
    std::int32_t Offset = kNoDataOffset;
    std::int32_t Length = 0;
    std::uint32_t Extra = 0;  // never interpreted; carried unchanged

    bool HasData() const { return Offset != kNoDataOffset; }
    friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

// (FileId, BlockId), ordered by FileId, then BlockId, both signed.
struct EntryKey {
    std::int32_t FileId = 0;
    std::int32_t BlockId = 0;

    static EntryKey Of(const IndexEntry& entry) { return {entry.FileId, entry.BlockId}; }
    friend auto operator<=>(const EntryKey&, const EntryKey&) = default;
};

// An open source file whose blocks a table refers to. It stays open (others may only read it)
// until the table that needs it is released, so its bytes cannot change under the run.
struct SourceFile {
    FileHandle Handle = kNoFile;
    std::int64_t Size = 0;

    SourceFile(FileHandle handle, std::int64_t size) : Handle(handle), Size(size) {}
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;
    // A source still open here was never released: only a test that ends a run by unwinding
    // gets here. Closed without the I/O check, since nothing can report it any more.
    ~SourceFile();
};

// Where an entry's bytes are: `Length` bytes at `Offset` of `Source`. The bytes are not copied
// into memory; the writer copies them straight from the source. An entry without data has the
// empty block (no source).
struct DataBlock {
    const SourceFile* Source = nullptr;
    std::int32_t Offset = 0;
    std::int32_t Length = 0;

    bool Empty() const { return Source == nullptr; }
    friend bool operator==(const DataBlock&, const DataBlock&) = default;
};

// An index entry together with its block. Keeping the two in one record makes "position i of the
// entry list belongs to position i of the block list" hold by construction.
struct TableEntry {
    IndexEntry Entry;
    DataBlock Block;
    friend bool operator==(const TableEntry&, const TableEntry&) = default;
};

// A loaded file: its kept entries in order, and the source files their blocks lie in. Counts and
// positions are plain size_t, so a merged table above 65535 entries is represented correctly and
// can be refused before it is written.
struct EntryTable {
    std::vector<TableEntry> Entries;
    std::vector<std::shared_ptr<SourceFile>> Sources;  // a loaded table's own file first
    std::size_t LeftOut = 0;  // entries of the file dropped on loading (FileId above MaxFileId)

    std::size_t Count() const { return Entries.size(); }
};

// Whether the entries stand in EntryKey order (equal keys allowed), as a well-kept file's do.
bool IsSortedByKey(const std::vector<TableEntry>& entries);

// The two tables of a run: "verdata.mul" and "patchdata.mul".
extern EntryTable TargetTable;
extern EntryTable PatchTable;

// Empties the table and closes every source file that no other table still needs. A close that
// fails ends in the error stop.
void ReleaseTable(EntryTable& table);

}  // namespace quelvane
