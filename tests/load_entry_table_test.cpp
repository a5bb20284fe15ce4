// The loader on real files in a temporary directory.
#include <gtest/gtest.h>

#include <cerrno>

#include "engine/load_entry_table.h"
#include "tests/file_builder.h"
#include "tests/temp_directory.h"
#include "tests/test_platform.h"

namespace quelvane::testing {
namespace {

#ifdef _WIN32
constexpr std::uint32_t kNegativeSeekError = 131;  // ERROR_NEGATIVE_SEEK
#else
constexpr std::uint32_t kNegativeSeekError = EINVAL;
#endif

class LoadEntryTableTest : public ::testing::Test {
  protected:
    // Loads "verdata.mul" from `bytes`. Returns the load's result; a stop leaves `stopCode` set.
    bool Load(const Bytes& bytes) {
        WriteFileBytes("verdata.mul", bytes);
        try {
            return LoadEntryTable("verdata.mul", "Error opening Verdata.mul", table);
        } catch (const ProcessEnded& end) {
            stopCode = end.ExitCode;
            return false;
        }
    }

    void TearDown() override {
        ReleaseTable(table);
        EXPECT_TRUE(platform.Live.empty()) << "a file was left open";
    }

    TempDirectory directory;
    TestPlatform platform{NativePlatform()};
    EntryTable table;
    std::uint32_t stopCode = 0;
};

TEST_F(LoadEntryTableTest, KeepsEntriesUpToFileId33AndReadsEveryRecordInSequence) {
    const Bytes file = FileBuilder()
                           .WithData(5, 1, 4, 'a')
                           .WithData(40, 2, 4, 'b')
                           .WithData(7, 3, 4, 'c')
                           .WithData(33, 4, 4, 'd')
                           .WithData(34, 5, 4, 'e')
                           .WithData(-1, 6, 4, 'f')
                           .Build();
    ASSERT_TRUE(Load(file));
    ASSERT_EQ(table.Count(), 4u);
    const std::int32_t fileIds[] = {5, 7, 33, -1};
    const std::int32_t offsets[] = {124, 132, 136, 144};  // the data area starts at 4 + 6 * 20
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(table.Entries[i].Entry.FileId, fileIds[i]);
        EXPECT_EQ(table.Entries[i].Block.Offset, offsets[i]);
        EXPECT_EQ(table.Entries[i].Block.Length, 4);
    }
    EXPECT_TRUE(platform.Boxes.empty());
    EXPECT_EQ(platform.Live.size(), 1u) << "the file stays open for the copy";
}

TEST_F(LoadEntryTableTest, EachNoDataMarkerGivesOffsetMinusOneLengthZeroAndNoBlock) {
    const Bytes file = FileBuilder()
                           .Entry({1, 1, 0, 100, 11})
                           .Entry({1, 2, 500, -1, 12})
                           .Entry({1, 3, 30, 0, 13})
                           .Entry({1, 4, -1, 77, 14})
                           .Build();
    ASSERT_TRUE(Load(file));
    ASSERT_EQ(table.Count(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(table.Entries[i].Entry, (IndexEntry{1, static_cast<std::int32_t>(i + 1), -1, 0,
                                                      static_cast<std::uint32_t>(11 + i)}));
        EXPECT_TRUE(table.Entries[i].Block.Empty());
    }
}

TEST_F(LoadEntryTableTest, BlocksMayOverlapLieInReverseOrderOrInsideTheIndex) {
    const Bytes file = FileBuilder()
                           .Entry({1, 1, 50, 10, 0})
                           .Entry({1, 2, 44, 10, 0})  // overlaps the first
                           .Entry({1, 3, 2, 20, 0})   // inside the head and the index
                           .Data(Bytes(40, 'x'))
                           .Build();
    ASSERT_TRUE(Load(file));
    ASSERT_EQ(table.Count(), 3u);
    EXPECT_EQ(table.Entries[0].Block.Offset, 50);
    EXPECT_EQ(table.Entries[1].Block.Offset, 44);
    EXPECT_EQ(table.Entries[2].Block.Offset, 2);
    EXPECT_EQ(table.Entries[2].Block.Length, 20);
}

TEST_F(LoadEntryTableTest, FilesThatKeepNoEntryAreEmptyTables) {
    ASSERT_TRUE(Load(FileBuilder().Build()));
    EXPECT_EQ(table.Count(), 0u);
    ASSERT_TRUE(Load(FileBuilder().WithData(34, 1, 8, 'z').Entry({99, 2, -1, 0, 0}).Build()));
    EXPECT_EQ(table.Count(), 0u);
}

TEST_F(LoadEntryTableTest, MissingFileShowsTheOpenErrorBox) {
    TempDirectory empty;
    EXPECT_FALSE(LoadEntryTable("verdata.mul", "Error opening Verdata.mul", table));
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(platform.Boxes[0].Text, "Error opening Verdata.mul");
    EXPECT_EQ(platform.Boxes[0].Caption, "Quelvane");
    EXPECT_EQ(platform.Boxes[0].Style, 0x10u);
}

TEST_F(LoadEntryTableTest, DamagedInputIsRefusedWithABoxThatSaysWhatIsWrong) {
    struct Case {
        Bytes File;
        const char* Text;
    };
    const Case cases[] = {
        {FileBuilder().Count(70000).Build(),
         "Error reading Verdata.mul: entry count 70000 is above 65535"},
        {FileBuilder().Count(-1).Build(), "Error reading Verdata.mul: entry count -1 is below 0"},
        {FileBuilder().Count(65536).Build(),
         "Error reading Verdata.mul: entry count 65536 is above 65535"},
        {FileBuilder().WithData(1, 1, 4, 'a').Entry({2, 9, 8, -7, 0}).Build(),
         "Error reading Verdata.mul: entry 1 (FileId 2, BlockId 9) has length -7, below -1"},
        // The length is found as its block comes up, before a later block past the end.
        {FileBuilder().Entry({2, 9, 8, -2, 0}).Entry({1, 1, 4, 1000, 0}).Build(),
         "Error reading Verdata.mul: entry 0 (FileId 2, BlockId 9) has length -2, below -1"},
    };
    for (const Case& c : cases) {
        platform.Boxes.clear();
        EXPECT_FALSE(Load(c.File));
        EXPECT_EQ(stopCode, 0u);
        ASSERT_EQ(platform.Boxes.size(), 1u);
        EXPECT_EQ(platform.Boxes[0].Text, c.Text);
        EXPECT_EQ(platform.Boxes[0].Style, 0x10u);
        EXPECT_EQ(table.Count(), 0u);
        EXPECT_TRUE(platform.Live.empty());
    }
}

TEST_F(LoadEntryTableTest, ShortFilesAndNegativePositionsEndInTheErrorStop) {
    const Bytes good = FileBuilder().WithData(1, 1, 10, 'a').WithData(1, 2, 10, 'b').Build();
    struct Case {
        const char* Name;
        Bytes File;
        std::uint32_t Code;
    };
    const Case cases[] = {
        {"empty file", {}, 100},
        {"cut inside the head", Bytes(good.begin(), good.begin() + 3), 100},
        {"cut inside the index", Bytes(good.begin(), good.begin() + 30), 100},
        {"cut inside the last block", Bytes(good.begin(), good.end() - 1), 100},
        {"a count far beyond the file", FileBuilder().Count(65535).Build(), 100},
        {"a block past the end", FileBuilder().Entry({1, 1, 24, 2000000000, 0}).Build(), 100},
        {"a negative position", FileBuilder().Entry({1, 1, -20, 4, 0}).Data(Bytes(8, 0)).Build(),
         kNegativeSeekError},
        {"a negative position before a block past the end",
         FileBuilder().Entry({1, 1, -2, 4, 0}).Entry({1, 2, 40, 99, 0}).Build(),
         kNegativeSeekError},
        {"a block past the end before a negative position",
         FileBuilder().Entry({1, 2, 40, 99, 0}).Entry({1, 1, -2, 4, 0}).Build(), 100},
    };
    for (const Case& c : cases) {
        stopCode = 0;
        platform.Boxes.clear();
        EXPECT_FALSE(Load(c.File)) << c.Name;
        EXPECT_EQ(stopCode, c.Code) << c.Name;
        ASSERT_EQ(platform.Boxes.size(), 1u) << c.Name;
        EXPECT_EQ(platform.Boxes[0].Caption, "Error") << c.Name;
        ReleaseTable(table);
    }
}

}  // namespace
}  // namespace quelvane::testing
