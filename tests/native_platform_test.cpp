// The real platform's positioned reads, on a real file: the block copy relies on them reading at
// the position given whatever the file's current position, filling scattered parts in turn, and
// coming up short, not failing, at the end of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "support/platform.h"
#include "tests/file_builder.h"
#include "tests/temp_directory.h"

namespace quelvane::testing {
namespace {

constexpr std::size_t kFileSize = 3000;

class NativePlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<unsigned char>(i * 7 + i / 256);
        WriteFileBytes("data", content);
        file = os.OpenExisting("data", OpenMode::ReadOnly, nullptr);
        ASSERT_NE(file, kNoFile);
        ASSERT_EQ(os.Seek(file, 2500), 0u);  // the current position must not matter
    }
    void TearDown() override { EXPECT_EQ(os.Close(file), 0u); }

    // The file's bytes from `position` on, at most `size` of them.
    Bytes Slice(std::int64_t position, std::uint32_t size) const {
        const auto from = std::min<std::size_t>(static_cast<std::size_t>(position), kFileSize);
        const auto to = std::min<std::size_t>(from + size, kFileSize);
        return Bytes(content.begin() + static_cast<std::ptrdiff_t>(from),
                     content.begin() + static_cast<std::ptrdiff_t>(to));
    }

    TempDirectory directory;
    Bytes content = Bytes(kFileSize);
    Platform& os = NativePlatform();
    FileHandle file = kNoFile;
};

TEST_F(NativePlatformTest, ReadAtReadsAtThePositionGivenAndComesUpShortAtTheEnd) {
    struct Case {
        std::int64_t Position;
        std::uint32_t Size;
        std::uint32_t Moved;
    };
    const Case cases[] = {{0, 10, 10},   {1234, 1000, 1000}, {2990, 10, 10},
                          {2995, 10, 5}, {3000, 4, 0},       {5000, 4, 0}};
    for (const Case& c : cases) {
        Bytes buffer(c.Size, 0xEE);
        const Transfer done = os.ReadAt(file, c.Position, buffer.data(), c.Size);
        EXPECT_EQ(done.error, 0u) << "at " << c.Position;
        ASSERT_EQ(done.moved, c.Moved) << "at " << c.Position;
        buffer.resize(c.Moved);
        EXPECT_EQ(buffer, Slice(c.Position, c.Size)) << "at " << c.Position;
    }
}

TEST_F(NativePlatformTest, ReadScatteredFillsThePartsInTurnAndComesUpShortAtTheEnd) {
    struct Case {
        std::int64_t Position;
        std::vector<std::uint32_t> Sizes;
    };
    // More parts than one system call takes, empty parts among them; parts past the end.
    std::vector<std::uint32_t> many;
    for (int k = 0; k < 600; ++k)
        many.push_back(std::vector<std::uint32_t>{0, 1, 3, 7}[static_cast<std::size_t>(k % 4)]);
    const Case cases[] = {{5, many}, {2990, {4, 4, 4, 4}}, {0, {3000}}, {3000, {8}}};
    for (const Case& c : cases) {
        std::vector<Bytes> buffers;
        std::vector<ReadPart> parts;
        std::uint32_t total = 0;
        for (const std::uint32_t size : c.Sizes) {
            buffers.emplace_back(size, 0xEE);
            total += size;
        }
        for (Bytes& buffer : buffers)
            parts.push_back({buffer.data(), static_cast<std::uint32_t>(buffer.size())});
        const Transfer done = os.ReadScattered(file, c.Position, parts.data(), parts.size());
        EXPECT_EQ(done.error, 0u) << "at " << c.Position;
        const Bytes expected = Slice(c.Position, total);
        ASSERT_EQ(done.moved, expected.size()) << "at " << c.Position;
        Bytes filled;  // what the parts received, in order, up to the bytes moved
        for (const Bytes& buffer : buffers)
            filled.insert(filled.end(), buffer.begin(), buffer.end());
        filled.resize(done.moved);
        EXPECT_EQ(filled, expected) << "at " << c.Position;
    }
}

}  // namespace
}  // namespace quelvane::testing
