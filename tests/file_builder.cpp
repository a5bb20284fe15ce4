#include "tests/file_builder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine/little_endian.h"

namespace quelvane::testing {

FileBuilder& FileBuilder::Count(std::int32_t count) {
    count_ = count;
    return *this;
}

FileBuilder& FileBuilder::Entry(RawEntry entry) {
    entries_.push_back(entry);
    placedByBuilder_.push_back(false);
    return *this;
}

FileBuilder& FileBuilder::WithData(std::int32_t fileId, std::int32_t blockId, std::int32_t length,
                                   unsigned char fill, std::uint32_t extra) {
    // The offset is relative to the data area until Build() knows where that starts.
    entries_.push_back({fileId, blockId, static_cast<std::int32_t>(data_.size()), length, extra});
    placedByBuilder_.push_back(true);
    data_.insert(data_.end(), static_cast<std::size_t>(length), fill);
    return *this;
}

FileBuilder& FileBuilder::Data(const Bytes& bytes) {
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes FileBuilder::Build() const {
    const auto start = static_cast<std::int32_t>(4 + 20 * entries_.size());
    Bytes file(static_cast<std::size_t>(start));
    WriteInt32(file.data(), count_.value_or(static_cast<std::int32_t>(entries_.size())));
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        RawEntry e = entries_[k];
        if (placedByBuilder_[k])
            e.Offset += start;
        unsigned char* out = file.data() + 4 + 20 * k;
        WriteInt32(out, e.FileId);
        WriteInt32(out + 4, e.BlockId);
        WriteInt32(out + 8, e.Offset);
        WriteInt32(out + 12, e.Length);
        WriteUint32(out + 16, e.Extra);
    }
    file.insert(file.end(), data_.begin(), data_.end());
    return file;
}

bool operator==(const RawEntry& a, const RawEntry& b) {
    return a.FileId == b.FileId && a.BlockId == b.BlockId && a.Offset == b.Offset &&
           a.Length == b.Length && a.Extra == b.Extra;
}

std::vector<ParsedEntry> ParseWrittenFile(const Bytes& file) {
    std::vector<ParsedEntry> parsed;
    EXPECT_GE(file.size(), 4u);
    if (file.size() < 4)
        return parsed;
    const std::int32_t count = ReadInt32(file.data());
    EXPECT_GE(count, 0);
    EXPECT_LE(count, 65535);
    const std::int64_t dataStart = 4 + 20 * static_cast<std::int64_t>(count);
    EXPECT_GE(static_cast<std::int64_t>(file.size()), dataStart);
    if (count < 0 || static_cast<std::int64_t>(file.size()) < dataStart)
        return parsed;
    std::int64_t next = dataStart;  // where the next block must begin
    for (std::int32_t k = 0; k < count; ++k) {
        const unsigned char* in = file.data() + 4 + 20 * k;
        ParsedEntry entry{{ReadInt32(in), ReadInt32(in + 4), ReadInt32(in + 8), ReadInt32(in + 12),
                           ReadUint32(in + 16)},
                          {}};
        EXPECT_LE(entry.Entry.FileId, 33) << "entry " << k;
        EXPECT_NE(entry.Entry.Offset, 0) << "entry " << k;
        if (entry.Entry.Offset == -1) {
            EXPECT_EQ(entry.Entry.Length, 0) << "entry " << k;
        } else {
            EXPECT_EQ(entry.Entry.Offset, next) << "blocks must follow back to back, entry " << k;
            EXPECT_GT(entry.Entry.Length, 0) << "entry " << k;
            const std::int64_t end = next + entry.Entry.Length;
            EXPECT_LE(end, static_cast<std::int64_t>(file.size())) << "entry " << k;
            if (end > static_cast<std::int64_t>(file.size()) || entry.Entry.Length < 0)
                break;
            entry.Block.assign(file.begin() + static_cast<std::ptrdiff_t>(next),
                               file.begin() + static_cast<std::ptrdiff_t>(end));
            next = end;
        }
        parsed.push_back(entry);
    }
    EXPECT_EQ(static_cast<std::int64_t>(file.size()), next) << "the file ends after the last block";
    return parsed;
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace quelvane::testing
