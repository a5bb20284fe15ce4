#include <gtest/gtest.h>

#include "support/boxes.h"
#include "support/error_stop.h"
#include "support/io_check.h"
#include "tests/test_platform.h"

namespace quelvane::testing {
namespace {

TEST(ErrorStop, TextFollowsThePattern) {
    struct Case {
        std::uint32_t Number, Location;
        const char* Text;
    };
    const Case cases[] = {
        {100, 0x0040A1B2, "Runtime error 100 at 0040A1B2"},
        {101, 0x00401010, "Runtime error 101 at 00401010"},
        {5, 0x1F, "Runtime error   5 at 0000001F"},
        {28, 0, "Runtime error  28 at 00000000"},
        {131, 0xFFFFFFFF, "Runtime error 131 at FFFFFFFF"},
        {1224, 0xABC, "Runtime error1224 at 00000ABC"},  // four digits fill the field
        {0, 0x10, "Runtime error   0 at 00000010"},
        // Wider numbers cannot end at the 17th character without overwriting the words: they
        // are written in full after one blank and the text grows.
        {12345, 0x00402040, "Runtime error 12345 at 00402040"},
        {4294967295u, 1, "Runtime error 4294967295 at 00000001"},
    };
    for (const Case& c : cases) {
        const std::string text = FormatRuntimeError(c.Number, c.Location);
        EXPECT_EQ(text, c.Text);
        if (c.Number < 10000) {
            EXPECT_EQ(text.size(), 29u);
        }
    }
}

TEST(ErrorStop, ShowsAnUnownedBoxThenEndsWithTheNumber) {
    MemoryFileSystem files;
    TestPlatform platform(files);
    SetBoxOwner(reinterpret_cast<WindowHandle>(0x1234));
    EXPECT_FALSE(ErrorStopInProgress());
    try {
        ErrorStop(217, 0x00403020);
        FAIL() << "the error stop returned";
    } catch (const ProcessEnded& end) {
        EXPECT_EQ(end.ExitCode, 217u);
    }
    SetBoxOwner(kNoWindow);
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(platform.Boxes[0].Text, "Runtime error 217 at 00403020");
    EXPECT_EQ(platform.Boxes[0].Caption, "Error");
    EXPECT_EQ(platform.Boxes[0].Style, 0u);
    EXPECT_FALSE(platform.Boxes[0].Owned);
}

TEST(ErrorStop, ClosesAndRemovesThePendingTemporaryFileBeforeItsBox) {
    MemoryFileSystem files;
    TestPlatform platform(files);
    const FileHandle file = files.CreateAlways("scratch", nullptr);
    RemoveOnErrorStop(file, "scratch");
    EXPECT_THROW(ErrorStop(101, 1), ProcessEnded);
    EXPECT_EQ(files.Files.count("scratch"), 0u);
    EXPECT_EQ(files.OpenHandles(), 0);
}

TEST(IoCheck, ShortTransfersAndSystemErrorsStopWithTheirNumbers) {
    MemoryFileSystem files;
    files.Files["f"] = Bytes(10, 7);
    TestPlatform platform(files);
    const FileHandle file = files.OpenExisting("f", OpenMode::ReadWrite, nullptr);
    unsigned char buffer[32];
    const auto stopsWith = [&](auto&& operation) -> std::uint32_t {
        try {
            operation();
        } catch (const ProcessEnded& end) {
            return end.ExitCode;
        }
        return 0;
    };
    EXPECT_EQ(stopsWith([&] { CheckedRead(file, buffer, 0, 1); }), 0u) << "0 bytes always pass";
    EXPECT_EQ(stopsWith([&] { CheckedRead(file, buffer, 11, 1); }), 100u);
    EXPECT_EQ(stopsWith([&] { CheckedSeek(file, -5, 1); }), 131u);
    platform.InjectedFault = Fault{platform.Operations.size() + 1, 0};
    EXPECT_EQ(stopsWith([&] { CheckedWrite(file, buffer, 8, 1); }), 101u);
    platform.InjectedFault = Fault{platform.Operations.size() + 1, 112};
    EXPECT_EQ(stopsWith([&] { CheckedWrite(file, buffer, 8, 1); }), 112u);
    platform.InjectedFault = Fault{platform.Operations.size() + 1, 6};
    EXPECT_EQ(stopsWith([&] { CheckedClose(file, 1); }), 6u);
}

}  // namespace
}  // namespace quelvane::testing
