// The Win32 file code for real (run under Wine): sharing, read-only files, negative positions.
#include <windows.h>

#include <gtest/gtest.h>

#include "engine/load_entry_table.h"
#include "shell/run_patch.h"
#include "tests/file_builder.h"
#include "tests/temp_directory.h"
#include "tests/test_platform.h"

namespace quelvane::testing {
namespace {

class Win32FilesTest : public ::testing::Test {
  protected:
    void TearDown() override { ReleaseTable(table); }
    TempDirectory directory;
    TestPlatform platform{NativePlatform()};
    EntryTable table;
};

TEST_F(Win32FilesTest, ATargetHeldWithoutWriteSharingCannotBeOpened) {
    WriteFileBytes("verdata.mul", FileBuilder().WithData(1, 1, 4, 'a').Build());
    const HANDLE holder = ::CreateFileA("verdata.mul", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(LoadEntryTable("verdata.mul", "Error opening Verdata.mul", table));
    ::CloseHandle(holder);
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(platform.Boxes[0].Text, "Error opening Verdata.mul");
}

TEST_F(Win32FilesTest, AReadOnlyPatchLoads) {
    WriteFileBytes("patchdata.mul", FileBuilder().WithData(1, 1, 4, 'a').Build());
    ASSERT_NE(::SetFileAttributesA("patchdata.mul", FILE_ATTRIBUTE_READONLY), 0);
    EXPECT_TRUE(
        LoadEntryTable("patchdata.mul", "Error opening Patchdata.mul", table, OpenMode::ReadOnly));
    EXPECT_EQ(table.Count(), 1u);
    EXPECT_TRUE(platform.Boxes.empty());
    ReleaseTable(table);
    ::SetFileAttributesA("patchdata.mul", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32FilesTest, ANegativePositionStopsWithTheSystemsNumber) {
    WriteFileBytes("verdata.mul", FileBuilder().Entry({1, 1, -8, 4, 0}).Data(Bytes(8, 0)).Build());
    try {
        LoadEntryTable("verdata.mul", "Error opening Verdata.mul", table);
        FAIL() << "no error stop";
    } catch (const ProcessEnded& end) {
        EXPECT_EQ(end.ExitCode, 131u);
    }
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(platform.Boxes[0].Text, "Runtime error 131 at 00401040");
}

TEST_F(Win32FilesTest, AReplaceRefusedByAnotherHolderSaysErrorWriting) {
    const Bytes target = FileBuilder().WithData(1, 1, 4, 'a').Build();
    WriteFileBytes("verdata.mul", target);
    WriteFileBytes("patchdata.mul", FileBuilder().WithData(1, 2, 4, 'b').Build());
    // Another program reads the target, sharing read and write but not delete.
    const HANDLE holder =
        ::CreateFileA("verdata.mul", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(RunPatch());
    ::CloseHandle(holder);
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(platform.Boxes[0].Text, "Error writing Verdata.mul");
    EXPECT_EQ(ReadFileBytes("verdata.mul"), target);
    EXPECT_EQ(::GetFileAttributesA("verdata.mul.new"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(platform.Pauses.empty());
}

TEST_F(Win32FilesTest, ACompletedRunReplacesTheTarget) {
    WriteFileBytes("verdata.mul", FileBuilder().WithData(1, 1, 4, 'a').Build());
    WriteFileBytes("patchdata.mul", FileBuilder().WithData(1, 2, 3, 'b').Build());
    EXPECT_TRUE(RunPatch());
    const auto written = ParseWrittenFile(ReadFileBytes("verdata.mul"));
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[1].Block, Bytes(3, 'b'));
    EXPECT_EQ(::GetFileAttributesA("verdata.mul.new"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace quelvane::testing
