// Builds indexed data files byte by byte for tests, and reads written ones back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/entry_table.h"
#include "tests/test_platform.h"

namespace quelvane::testing {

struct RawEntry {
    std::int32_t FileId = 0;
    std::int32_t BlockId = 0;
    std::int32_t Offset = -1;
    std::int32_t Length = 0;
    std::uint32_t Extra = 0;
};

// A file image: the head (count), the index, then whatever data the test appends.
class FileBuilder {
  public:
    // The count written in the head; by default the number of entries.
    FileBuilder& Count(std::int32_t count);
    FileBuilder& Entry(RawEntry entry);
    // Adds an entry with data: its block is appended to the data area, filled with `fill`.
    FileBuilder& WithData(std::int32_t fileId, std::int32_t blockId, std::int32_t length,
                          unsigned char fill, std::uint32_t extra = 0);
    // Appends raw bytes to the data area.
    FileBuilder& Data(const Bytes& bytes);
    Bytes Build() const;

  private:
    std::vector<RawEntry> entries_;
    std::vector<bool> placedByBuilder_;
    Bytes data_;
    std::optional<std::int32_t> count_;
};

// A parsed file, as it lies on disk, with each entry's block bytes.
struct ParsedEntry {
    RawEntry Entry;
    Bytes Block;
};
// Reads a file as written by the program; fails the test on any broken writing rule.
std::vector<ParsedEntry> ParseWrittenFile(const Bytes& file);

bool operator==(const RawEntry& a, const RawEntry& b);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace quelvane::testing
