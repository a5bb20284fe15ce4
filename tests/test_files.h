// Files for tests: indexed data files built byte by byte, written files read back against the
// writing rules, and a fresh working directory.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "engine/entry_table.h"

namespace quelvane::testing {

using Bytes = std::vector<unsigned char>;

// An entry with data: `Length` bytes of `Fill`, placed in the data area by the builder.
struct Block {
    std::int32_t FileId, BlockId, Length;
    unsigned char Fill;
    std::uint32_t Extra = 0;
};

// A file image: the head (the count), the index, then the data area.
class FileBuilder {
  public:
    // The count written in the head; by default the number of entries.
    FileBuilder& Count(std::int32_t count);
    // An entry as given, Offset taken literally.
    FileBuilder& Entry(IndexEntry entry);
    // Entries with their blocks appended to the data area, in turn.
    FileBuilder& With(std::initializer_list<Block> blocks);
    FileBuilder& Data(const Bytes& bytes);
    Bytes Build() const;

  private:
    std::vector<IndexEntry> entries_;
    std::vector<bool> inDataArea_;  // Offset counts from the start of the data area
    Bytes data_;
    std::optional<std::int32_t> count_;
};

// A well-formed file of these entries and blocks.
Bytes File(std::initializer_list<Block> blocks);

// A written file's entries with their blocks, and the first writing rule it breaks, if any: a
// count within 0..65535, FileIds up to 33, blocks back to back behind the index in index order,
// entries without data at Offset -1 with Length 0, nothing after the last block.
struct WrittenFile {
    std::vector<IndexEntry> Entries;
    std::vector<Bytes> Blocks;
    std::string Broken;
};
WrittenFile ParseWrittenFile(const Bytes& file);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

// A fresh directory that becomes the current one, removed with its content at the end.
class TempDirectory {
  public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::string& Path() const { return path_; }
    // The names in the directory, sorted.
    std::vector<std::string> Names() const;

  private:
    std::string path_, previous_;
};

}  // namespace quelvane::testing
