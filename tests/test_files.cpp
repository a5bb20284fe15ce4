#include "tests/test_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "engine/little_endian.h"

namespace quelvane::testing {

FileBuilder& FileBuilder::Count(std::int32_t count) {
    count_ = count;
    return *this;
}

FileBuilder& FileBuilder::Entry(IndexEntry entry) {
    entries_.push_back(entry);
    inDataArea_.push_back(false);
    return *this;
}

FileBuilder& FileBuilder::With(std::initializer_list<Block> blocks) {
    for (const Block& block : blocks) {
        Entry({block.FileId, block.BlockId, static_cast<std::int32_t>(data_.size()), block.Length,
               block.Extra});
        inDataArea_.back() = true;
        data_.insert(data_.end(), static_cast<std::size_t>(block.Length), block.Fill);
    }
    return *this;
}

Bytes File(std::initializer_list<Block> blocks) {
    return FileBuilder().With(blocks).Build();
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
        const IndexEntry& e = entries_[k];
        unsigned char* out = file.data() + 4 + 20 * k;
        WriteInt32(out, e.FileId);
        WriteInt32(out + 4, e.BlockId);
        WriteInt32(out + 8, e.Offset + (inDataArea_[k] ? start : 0));
        WriteInt32(out + 12, e.Length);
        WriteUint32(out + 16, e.Extra);
    }
    file.insert(file.end(), data_.begin(), data_.end());
    return file;
}

WrittenFile ParseWrittenFile(const Bytes& file) {
    WrittenFile parsed;
    const auto size = static_cast<std::int64_t>(file.size());
    const std::int32_t count = size >= 4 ? ReadInt32(file.data()) : -1;
    std::int64_t next = 4 + 20 * static_cast<std::int64_t>(count);  // where the next block begins
    if (count < 0 || count > 65535 || size < next) {
        parsed.Broken = "no whole head and index";
        return parsed;
    }
    for (std::int32_t k = 0; k < count && parsed.Broken.empty(); ++k) {
        const unsigned char* in = file.data() + 4 + 20 * k;
        const IndexEntry entry{ReadInt32(in), ReadInt32(in + 4), ReadInt32(in + 8),
                               ReadInt32(in + 12), ReadUint32(in + 16)};
        parsed.Entries.push_back(entry);
        const std::string which = "entry " + std::to_string(k) + ": ";
        if (entry.FileId > MaxFileId) {
            parsed.Broken = which + "FileId above 33";
        } else if (entry.Offset == -1) {
            parsed.Blocks.emplace_back();
            if (entry.Length != 0)
                parsed.Broken = which + "no data, but a Length";
        } else if (entry.Offset != next || entry.Length <= 0 || next + entry.Length > size) {
            parsed.Broken = which + "the block is not where the last one ended";
        } else {
            parsed.Blocks.emplace_back(file.begin() + next, file.begin() + next + entry.Length);
            next += entry.Length;
        }
    }
    if (parsed.Broken.empty() && next != size)
        parsed.Broken = "bytes after the last block";
    return parsed;
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

namespace fs = std::filesystem;

TempDirectory::TempDirectory() {
    std::random_device seed;
    const fs::path path = fs::temp_directory_path() /
                          ("quelvane-test-" + std::to_string(seed()) + std::to_string(seed()));
    fs::create_directories(path);
    path_ = path.generic_string();
    previous_ = fs::current_path().string();
    fs::current_path(path);
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> TempDirectory::Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace quelvane::testing
