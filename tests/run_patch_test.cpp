// Whole runs, as a press of "Go!" makes them, over the in-memory file system.
#include <gtest/gtest.h>

#include "shell/run_patch.h"
#include "support/boxes.h"
#include "tests/file_builder.h"
#include "tests/test_platform.h"

namespace quelvane::testing {
namespace {

class RunPatchTest : public ::testing::Test {
  protected:
    void SetUp() override { SetBoxOwner(reinterpret_cast<WindowHandle>(0x42)); }
    void TearDown() override {
        SetBoxOwner(kNoWindow);
        EXPECT_EQ(files.OpenHandles(), 0);
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const Box& box : platform.Boxes)
            texts.push_back(box.Text);
        return texts;
    }
    MemoryFileSystem files;
    TestPlatform platform{files};
};

TEST_F(RunPatchTest, MissingFilesEndTheRunWithTheirBoxAndTheWindowStays) {
    EXPECT_FALSE(RunPatch());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Error opening Verdata.mul"});
    EXPECT_EQ(platform.Operations, std::vector<Operation>{Operation::Open})
        << "the patch is not looked at";

    const Bytes target = FileBuilder().WithData(1, 1, 5, 'v').Build();
    files.Files["verdata.mul"] = target;
    platform.Boxes.clear();
    EXPECT_FALSE(RunPatch());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Error opening Patchdata.mul"});
    EXPECT_TRUE(platform.Boxes[0].Owned);
    EXPECT_EQ(files.Files["verdata.mul"], target);

    // A second press once the patch is there runs normally.
    files.Files["patchdata.mul"] = FileBuilder().WithData(1, 2, 3, 'p').Build();
    platform.Boxes.clear();
    EXPECT_TRUE(RunPatch());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Done."});
}

TEST_F(RunPatchTest, ACompletedRunPausesThenSaysDone) {
    files.Files["verdata.mul"] = FileBuilder()
                                     .WithData(1, 1, 4, 'a')
                                     .WithData(1, 1, 4, 'b')  // a later duplicate: it stays
                                     .WithData(2, 5, 2, 'c')
                                     .Build();
    files.Files["patchdata.mul"] =
        FileBuilder().WithData(2, 5, 3, 'P').WithData(1, 0, 1, 'N').Entry({3, 3, 0, 9, 7}).Build();
    files.ReadOnly["patchdata.mul"] = true;  // read access is all the patch needs
    EXPECT_TRUE(RunPatch());
    EXPECT_EQ(platform.Pauses, std::vector<std::uint32_t>{2500});
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(platform.Boxes[0].Text, "Done.");
    EXPECT_EQ(platform.Boxes[0].Caption, "Quelvane");
    EXPECT_EQ(platform.Boxes[0].Style, 0x40u);
    EXPECT_TRUE(platform.Boxes[0].Owned);

    const auto written = ParseWrittenFile(files.Files["verdata.mul"]);
    ASSERT_EQ(written.size(), 4u);
    const std::pair<std::int32_t, Bytes> expected[] = {
        {0, Bytes(1, 'N')}, {1, Bytes(4, 'b')}, {5, Bytes(3, 'P')}, {3, Bytes()}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(written[i].Entry.BlockId, expected[i].first);
        EXPECT_EQ(written[i].Block, expected[i].second);
    }
    EXPECT_EQ(written[3].Entry.Extra, 7u);
}

TEST_F(RunPatchTest, AReadOnlyTargetCannotBeOpened) {
    const Bytes target = FileBuilder().WithData(1, 1, 4, 'a').Build();
    files.Files["verdata.mul"] = target;
    files.Files["patchdata.mul"] = FileBuilder().Build();
    files.ReadOnly["verdata.mul"] = true;
    EXPECT_FALSE(RunPatch());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Error opening Verdata.mul"});
    EXPECT_EQ(files.Files["verdata.mul"], target);
}

TEST_F(RunPatchTest, DamagedPatchEndsTheRunAndReleasesTheTarget) {
    const Bytes target = FileBuilder().WithData(1, 1, 4, 'a').Build();
    files.Files["verdata.mul"] = target;
    files.Files["patchdata.mul"] = FileBuilder().Count(-4).Build();
    EXPECT_FALSE(RunPatch());
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{"Error reading Patchdata.mul: entry count -4 is below 0"});
    EXPECT_EQ(files.Files["verdata.mul"], target);
}

}  // namespace
}  // namespace quelvane::testing
