// The real platform's positioned read, on a real file: the block copy relies on it reading at
// the position given whatever the file's current position, and coming up short, not failing,
// at the end of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "support/platform.h"
#include "tests/file_builder.h"
#include "tests/temp_directory.h"

namespace quelvane::testing {
namespace {

TEST(NativePlatform, ReadAtReadsAtThePositionGivenAndComesUpShortAtTheEnd) {
    TempDirectory directory;
    Bytes content(3000);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<unsigned char>(i * 7 + i / 256);
    WriteFileBytes("data", content);
    Platform& os = NativePlatform();
    const FileHandle file = os.OpenExisting("data", OpenMode::ReadOnly, nullptr);
    ASSERT_NE(file, kNoFile);
    ASSERT_EQ(os.Seek(file, 2500), 0u);  // the current position must not matter

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
        const Bytes expected(
            content.begin() +
                std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(c.Position), 3000),
            content.begin() + std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(c.Position) +
                                                           static_cast<std::ptrdiff_t>(c.Moved),
                                                       3000));
        buffer.resize(c.Moved);
        EXPECT_EQ(buffer, expected) << "at " << c.Position;
    }
    EXPECT_EQ(os.Close(file), 0u);
}

}  // namespace
}  // namespace quelvane::testing
