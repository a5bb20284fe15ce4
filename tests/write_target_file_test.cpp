// Laying out offsets and writing the target, over the in-memory file system.
#include <gtest/gtest.h>

#include <random>

#include "engine/assign_offsets.h"
#include "engine/block_copy.h"
#include "engine/load_entry_table.h"
#include "engine/write_target_file.h"
#include "tests/file_builder.h"
#include "tests/test_platform.h"

namespace quelvane::testing {
namespace {

TEST(AssignOffsets, LaysBlocksBackToBackBehindTheIndex) {
    struct Case {
        std::vector<IndexEntry> In;
        std::vector<std::int32_t> Offsets;
        std::int64_t Size;
    };
    const Case cases[] = {
        {{{1, 1, 900, 10, 0}, {1, 2, -1, 0, 0}, {1, 3, 7, 5, 0}}, {64, -1, 74}, 79},
        {{{1, 1, 1000, 10, 0}}, {24}, 34},
        {{{1, 1, -1, 0, 0}, {2, 2, -1, 0, 0}}, {-1, -1}, 44},
        {{}, {}, 4},
    };
    for (const Case& c : cases) {
        EntryTable table;
        for (const IndexEntry& entry : c.In)
            table.Entries.push_back({entry, {}});
        EXPECT_EQ(WrittenFileSize(table), c.Size);
        AssignOffsets(table);
        std::vector<std::int32_t> offsets;
        for (const auto& row : table.Entries)
            offsets.push_back(row.Entry.Offset);
        EXPECT_EQ(offsets, c.Offsets);
    }
}

TEST(PlanCopyRanges, JoinsNeighboursOfOneSourceOnly) {
    SourceFile a(kNoFile, 0), b(kNoFile, 0);
    EntryTable table;
    const auto add = [&](const SourceFile* source, std::int32_t offset, std::int32_t length) {
        table.Entries.push_back({{1, 1, offset, length, 0}, {source, offset, length}});
    };
    add(&a, 100, 10);
    add(&a, 110, 5);                                  // follows in a: joined
    table.Entries.push_back({{1, 1, -1, 0, 0}, {}});  // no data: skipped, does not break the run
    add(&a, 115, 1);
    add(&b, 116, 4);   // another file: new range
    add(&a, 100, 10);  // back to the start: overlapping copy
    EXPECT_EQ(PlanCopyRanges(table),
              (std::vector<CopyRange>{{&a, 100, 16}, {&b, 116, 4}, {&a, 100, 10}}));
}

// CopyBlocks against the bytes the table names, on both copy paths: short blocks that are
// gathered and read in source order, long ones copied on their own, mixed, scattered, overlapping,
// read backwards, and batches that fill the gather buffer.
TEST(CopyBlocks, WritesEveryBlockInTableOrder) {
    MemoryFileSystem files;
    TestPlatform platform(files);
    std::mt19937 random(7);
    const auto pick = [&](std::int32_t low, std::int32_t high) {
        return std::uniform_int_distribution<std::int32_t>(low, high)(random);
    };
    Bytes contentA(3u << 20), contentB(1u << 20);
    for (auto& byte : contentA)
        byte = static_cast<unsigned char>(random());
    for (auto& byte : contentB)
        byte = static_cast<unsigned char>(random());
    files.Files = {{"a", contentA}, {"b", contentB}};
    for (int round = 0; round < 12; ++round) {
        files.KernelCopy = round % 2 == 0;
        const FileHandle handleA = Os().OpenExisting("a", OpenMode::ReadOnly, nullptr);
        const FileHandle handleB = Os().OpenExisting("b", OpenMode::ReadOnly, nullptr);
        const SourceFile a(handleA, static_cast<std::int64_t>(contentA.size()));
        const SourceFile b(handleB, static_cast<std::int64_t>(contentB.size()));
        EntryTable table;
        Bytes expected;
        const int count = round % 3 == 1 ? 400 : pick(1, 200);
        std::int32_t backwards = pick(0, 1 << 20);
        for (int k = 0; k < count; ++k) {
            const bool fromA = round % 3 == 1 || pick(0, 1) == 0;
            const Bytes& content = fromA ? contentA : contentB;
            const int kind = pick(0, 19);
            // Mostly short blocks, some past the gather limit, a few past the buffer.
            std::int32_t length = kind < 15   ? pick(1, 5000)
                                  : kind < 19 ? pick(60000, 300000)
                                              : pick(1 << 20, (3 << 19));
            const auto size = static_cast<std::int32_t>(content.size());
            std::int32_t offset = pick(0, size - std::min(length, size));
            if (round % 3 == 0 && length <= backwards) {  // blocks stored in reverse order
                backwards -= length;
                offset = backwards;
            } else if (round % 3 == 1) {
                // Only tiny blocks, just close enough to share reads: long scattered reads, with
                // a gap between every two parts.
                length = pick(1, 16);
                offset = k * 4000 % (size - 16);
            }
            const std::int32_t taken = std::min(length, size - offset);
            table.Entries.push_back({{1, k, offset, taken, 0}, {fromA ? &a : &b, offset, taken}});
            expected.insert(expected.end(), content.begin() + offset,
                            content.begin() + offset + taken);
        }
        const FileHandle out = Os().CreateAlways("out", nullptr);
        CopyBlocks(table, out);
        ASSERT_EQ(Os().Close(out), 0);
        ASSERT_EQ(files.Files["out"].size(), expected.size()) << "round " << round;
        EXPECT_TRUE(files.Files["out"] == expected) << "round " << round;
    }
}

// Writes `target` patched with `patch` over the in-memory file system and returns the new file.
class WriteTest : public ::testing::Test {
  protected:
    bool Run(const Bytes& target, const Bytes& patch) {
        files.Files["verdata.mul"] = target;
        files.Files["patchdata.mul"] = patch;
        EXPECT_TRUE(LoadEntryTable("verdata.mul", "", TargetTable));
        EXPECT_TRUE(LoadEntryTable("patchdata.mul", "", PatchTable, OpenMode::ReadOnly));
        return WriteTargetFile(TargetTable, PatchTable);
    }
    void TearDown() override {
        EXPECT_EQ(files.OpenHandles(), 0);
        EXPECT_EQ(files.Files.count(std::string(kTemporaryFileName)), 0u);
    }
    MemoryFileSystem files;
    TestPlatform platform{files};
};

TEST_F(WriteTest, CopiesBlocksAsIndexedAndDropsWhatNoEntryPointsTo) {
    for (const bool kernelCopy : {true, false}) {
        files.KernelCopy = kernelCopy;
        Bytes target = FileBuilder()
                           .Entry({1, 1, 84, 4, 1})  // stored behind the second block
                           .Entry({1, 2, 64, 4, 2})
                           .Entry({1, 3, 64, 4, 3})  // the same bytes as the second
                           .Build();
        target.resize(64, 0xEE);  // bytes that no entry points to
        target.insert(target.end(), {'B', 'B', 'B', 'B'});
        target.resize(84, 0xEE);
        target.insert(target.end(), {'A', 'A', 'A', 'A'});
        ASSERT_TRUE(Run(target, FileBuilder().Build()));
        const auto written = ParseWrittenFile(files.Files["verdata.mul"]);
        ASSERT_EQ(written.size(), 3u);
        EXPECT_EQ(written[0].Block, Bytes(4, 'A'));
        EXPECT_EQ(written[1].Block, Bytes(4, 'B'));
        EXPECT_EQ(written[2].Block, Bytes(4, 'B'));
        EXPECT_EQ(files.Files["verdata.mul"].size(), 4u + 60 + 12);
    }
}

TEST_F(WriteTest, BothTablesEmptyGiveAFourByteFile) {
    ASSERT_TRUE(Run(FileBuilder().Build(), FileBuilder().Build()));
    EXPECT_EQ(files.Files["verdata.mul"], (Bytes{0, 0, 0, 0}));
}

TEST_F(WriteTest, LimitsAreRefusedBeforeAnythingIsWritten) {
    // 40000 + 30000 distinct keys: 70000 entries, 4465 more than a file can count.
    FileBuilder target, patch;
    for (std::int32_t k = 0; k < 40000; ++k)
        target.Entry({1, k, -1, 0, 0});
    for (std::int32_t k = 0; k < 30000; ++k)
        patch.Entry({2, k, -1, 0, 0});
    const Bytes original = target.Build();
    EXPECT_FALSE(Run(original, patch.Build()));
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(platform.Boxes[0].Text,
              "Error writing Verdata.mul: the result has 70000 entries, 4465 more than the limit "
              "of 65535");
    EXPECT_EQ(files.Files["verdata.mul"], original);

    // 60000 entries that all name one 40000-byte block: a file of 2.4 GB, past 2 GiB.
    platform.Boxes.clear();
    FileBuilder many;
    for (std::int32_t k = 0; k < 60000; ++k)
        many.Entry({1, k, 4 + 20 * 60000, 40000, 0});
    const Bytes big = many.Data(Bytes(40000, 'd')).Build();
    EXPECT_FALSE(Run(big, FileBuilder().Build()));
    EXPECT_EQ(files.Files["verdata.mul"], big);
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(platform.Boxes[0].Text,
              "Error writing Verdata.mul: the result would be 2401200004 bytes long, 253716357 "
              "more than the limit of 2147483647");
}

TEST_F(WriteTest, ARefusedCreateOrReplaceLeavesTheTargetAndNoTemporaryFile) {
    const Bytes target = FileBuilder().WithData(1, 1, 6, 't').Build();
    const Bytes patch = FileBuilder().WithData(1, 2, 3, 'p').Build();
    for (const Operation refused : {Operation::Create, Operation::Replace}) {
        platform.Boxes.clear();
        platform.Operations.clear();
        // Count the operations up to the one to refuse, then refuse it with "access denied".
        std::size_t at = 0;
        {
            MemoryFileSystem dry;
            dry.Files = {{"verdata.mul", target}, {"patchdata.mul", patch}};
            TestPlatform count(dry);
            ASSERT_TRUE(LoadEntryTable("verdata.mul", "", TargetTable));
            ASSERT_TRUE(LoadEntryTable("patchdata.mul", "", PatchTable, OpenMode::ReadOnly));
            ASSERT_TRUE(WriteTargetFile(TargetTable, PatchTable));
            for (std::size_t k = 0; k < count.Operations.size(); ++k) {
                if (count.Operations[k] == refused)
                    at = k + 1;
            }
        }
        platform.InjectedFault = Fault{at, 5};
        EXPECT_FALSE(Run(target, patch));
        EXPECT_TRUE(platform.FaultHit);
        ASSERT_EQ(platform.Boxes.size(), 1u);
        EXPECT_EQ(platform.Boxes[0].Text, "Error writing Verdata.mul");
        EXPECT_EQ(files.Files["verdata.mul"], target);
        EXPECT_EQ(TargetTable.Count(), 0u) << "the tables are released";
        platform.InjectedFault.reset();
    }
}

// Round trip: write random tables, load the result, and get the same entries and blocks; laying
// the loaded table out again reproduces its offsets.
TEST_F(WriteTest, WrittenFilesLoadBackToTheSameTable) {
    std::mt19937 random(20261206);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    for (int round = 0; round < 300; ++round) {
        files.KernelCopy = round % 2 == 0;
        FileBuilder builder;
        std::vector<ParsedEntry> expected;
        const int count = pick(0, 12);
        for (int k = 0; k < count; ++k) {
            const int fileId = pick(-3, 36);
            const int length = pick(0, 3) == 0 ? 0 : pick(1, 300);
            const auto fill = static_cast<unsigned char>(pick(0, 255));
            const auto extra = static_cast<std::uint32_t>(random());
            if (length == 0) {
                builder.Entry({fileId, k, -1, 0, extra});
            } else {
                builder.WithData(fileId, k, length, fill, extra);
            }
            if (fileId <= 33) {
                expected.push_back({{fileId, k, length == 0 ? -1 : 0, length, extra},
                                    Bytes(static_cast<std::size_t>(length), fill)});
            }
        }
        ASSERT_TRUE(Run(builder.Build(), FileBuilder().Build()));
        const Bytes written = files.Files["verdata.mul"];
        const auto parsed = ParseWrittenFile(written);
        ASSERT_EQ(parsed.size(), expected.size());
        for (std::size_t i = 0; i < parsed.size(); ++i) {
            EXPECT_EQ(parsed[i].Entry.FileId, expected[i].Entry.FileId);
            EXPECT_EQ(parsed[i].Entry.Extra, expected[i].Entry.Extra);
            EXPECT_EQ(parsed[i].Entry.Length, expected[i].Entry.Length);
            EXPECT_EQ(parsed[i].Block, expected[i].Block);
        }
        // Once written, a file is a fixed point: patching it with nothing changes no byte.
        ASSERT_TRUE(Run(written, FileBuilder().Build()));
        EXPECT_EQ(files.Files["verdata.mul"], written) << "round " << round;
    }
}

}  // namespace
}  // namespace quelvane::testing
