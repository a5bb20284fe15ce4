// Data files built byte by byte, written ones read back by the rules, a fresh directory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/entry_table.h"
#include "engine/little_endian.h"

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
    FileBuilder& Count(std::int32_t count) {
        count_ = count;
        return *this;
    }
    // An entry as given, Offset taken literally.
    FileBuilder& Entry(IndexEntry entry) {
        entries_.push_back({entry, false});
        return *this;
    }
    FileBuilder& With(std::initializer_list<Block> blocks) {
        for (const Block& b : blocks) {
            const auto at = static_cast<std::int32_t>(data_.size());
            entries_.push_back({{b.FileId, b.BlockId, at, b.Length, b.Extra}, true});
            data_.insert(data_.end(), static_cast<std::size_t>(b.Length), b.Fill);
        }
        return *this;
    }
    FileBuilder& Data(const Bytes& bytes) {
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Bytes Build() const {
        const auto start = static_cast<std::int32_t>(4 + 20 * entries_.size());
        Bytes file(static_cast<std::size_t>(start));
        WriteInt32(file.data(), count_.value_or(static_cast<std::int32_t>(entries_.size())));
        unsigned char* out = file.data() + 4;
        for (const auto& [e, inDataArea] : entries_) {
            WriteInt32(out, e.FileId);
            WriteInt32(out + 4, e.BlockId);
            WriteInt32(out + 8, e.Offset + (inDataArea ? start : 0));
            WriteInt32(out + 12, e.Length);
            WriteUint32(out + 16, e.Extra);
            out += 20;
        }
        file.insert(file.end(), data_.begin(), data_.end());
        return file;
    }

  private:
    std::vector<std::pair<IndexEntry, bool>> entries_;  // true: Offset counts in the data area
    Bytes data_;
    std::optional<std::int32_t> count_;
};

inline Bytes File(std::initializer_list<Block> blocks) {
    return FileBuilder().With(blocks).Build();
}

// A written file in short, checked against the writing rules: each entry as
// "(FileId,BlockId,Offset,Length,Extra)", then its block as "<length>*<byte>" when it is one byte
// repeated, else as its bytes. A file that breaks a rule (a count outside 0..65535, a FileId
// above 33, blocks not back to back behind the index in index order, an entry without data not at
// Offset -1 with Length 0, bytes after the last block) renders as "broken: " and where.
inline std::string Render(const Bytes& file) {
    const auto size = static_cast<std::int64_t>(file.size());
    const std::int32_t count = size >= 4 ? ReadInt32(file.data()) : -1;
    std::int64_t next = 4 + 20 * static_cast<std::int64_t>(count);  // where the next block begins
    if (count < 0 || count > 65535 || size < next)
        return "broken: no whole head and index";
    std::string text;
    for (std::int32_t k = 0; k < count; ++k) {
        const unsigned char* in = file.data() + 4 + 20 * k;
        const IndexEntry e{ReadInt32(in), ReadInt32(in + 4), ReadInt32(in + 8), ReadInt32(in + 12),
                           ReadUint32(in + 16)};
        if (e.FileId > MaxFileId || (e.Offset == -1 && e.Length != 0) ||
            (e.Offset != -1 && (e.Offset != next || e.Length <= 0 || next + e.Length > size)))
            return "broken: entry " + std::to_string(k);
        text += (k == 0 ? "(" : " (") + std::to_string(e.FileId) + "," + std::to_string(e.BlockId) +
                "," + std::to_string(e.Offset) + "," + std::to_string(e.Length) + "," +
                std::to_string(e.Extra) + ")";
        if (e.Offset == -1)
            continue;
        const auto block = file.begin() + static_cast<std::ptrdiff_t>(next);
        if (std::count(block, block + e.Length, *block) == e.Length)
            text += std::to_string(e.Length) + "*" + static_cast<char>(*block);
        else
            text.append(block, block + e.Length);
        next += e.Length;
    }
    return next == size ? text : "broken: bytes after the last block";
}

inline Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory that becomes the current one, removed with its content at the end.
class TempDirectory {
  public:
    TempDirectory() {
        std::random_device seed;
        const auto path = std::filesystem::temp_directory_path() /
                          ("quelvane-test-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(path);
        path_ = path.generic_string();
        previous_ = std::filesystem::current_path().string();
        std::filesystem::current_path(path);
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::string& Path() const { return path_; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_, previous_;
};

}  // namespace quelvane::testing
