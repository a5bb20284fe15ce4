// Starts quelvane.exe in fresh directories and works its real window: its look, keys, the close
// box, the boxes, full runs, a target held by another program.
// Usage: quelvane_e2e_driver PATH\TO\quelvane.exe
//        quelvane_e2e_driver --press PATH\TO\quelvane.exe   (one press of "Go!" in the current
//        directory; prints the box, the time from the press to it and the peak working set)
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "e2e/window_driver.h"
#include "tests/test_files.h"

namespace quelvane::testing {
namespace {

std::string exePath;

// A box of the program: owned by the main window, caption "Quelvane", the text given, an icon
// (which icon the unit tests check: icon handles cannot be compared across processes).
void ExpectBox(const Program& program, HWND box, const std::string& text) {
    ASSERT_NE(box, nullptr) << "no box for \"" << text << "\"";
    EXPECT_EQ(TextOf(box), "Quelvane");
    EXPECT_EQ(BoxText(box), text);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), program.Window());
    EXPECT_NE(IconOf(box), nullptr) << "the box for \"" << text << "\" shows no icon";
}

class EndToEnd : public ::testing::Test {
  protected:
    TempDirectory directory;
};

TEST_F(EndToEnd, TheWindowAndItsButtonAreAsDesigned) {
    Program program(exePath);
    ASSERT_TRUE(program.Started()) << "the main window and its button did not appear";
    const HWND window = program.Window();
    EXPECT_EQ(TextOf(window), "Quelvane");
    // The system adds WS_CLIPSIBLINGS to every top-level window; nothing else may differ.
    const auto style = static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE));
    EXPECT_EQ(style & ~static_cast<DWORD>(WS_CLIPSIBLINGS), 0x10C80000u) << std::hex << style;
    const auto exStyle = static_cast<DWORD>(::GetWindowLongA(window, GWL_EXSTYLE));
    EXPECT_EQ(exStyle & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST),
              static_cast<DWORD>(WS_EX_TOOLWINDOW | WS_EX_TOPMOST));
    RECT outer{}, place{};
    ::GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, 150);
    EXPECT_EQ(outer.bottom - outer.top, 80);

    const HWND button = program.Button();
    EXPECT_EQ(ClassOf(button), "Button");
    EXPECT_EQ(TextOf(button), "Go!");
    EXPECT_EQ(::GetDlgCtrlID(button), 0);
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(button, GWL_STYLE)) & 0xFFFFFFF0u, 0x50000C00u);
    ::GetWindowRect(button, &place);
    ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, 10);
    EXPECT_EQ(place.top, 5);
    EXPECT_EQ(place.right - place.left, 125);
    EXPECT_EQ(place.bottom - place.top, 40);
}

TEST_F(EndToEnd, EscapeAndTheCloseBoxEndWithZeroOtherKeysDoNothing) {
    for (const bool closeBox : {false, true}) {
        Program program(exePath);
        ASSERT_TRUE(program.Started());
        ::PostMessageA(program.Window(), WM_KEYDOWN, 'A', 0);
        EXPECT_EQ(program.ExitCode(closeBox ? 0 : 1500), -1) << "another key closed the window";
        if (closeBox)
            ::PostMessageA(program.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            ::PostMessageA(program.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_EQ(program.ExitCode(), 0);
    }
}

TEST_F(EndToEnd, AClickPatchesAndSaysDoneAfterThePause) {
    WriteFileBytes("verdata.mul", File({{1, 1, 3, 'a'}, {1, 5, 2, 'b'}}));
    WriteFileBytes("patchdata.mul", File({{1, 5, 1, 'P'}, {1, 3, 2, 'N'}}));
    Program program(exePath);
    ASSERT_TRUE(program.Started());
    const DWORD start = ::GetTickCount();
    program.Click();
    const HWND box = program.WaitForBox();
    EXPECT_GE(::GetTickCount() - start, 2400u) << "the pause comes before the box";
    ExpectBox(program, box, "Done.");
    Dismiss(box);
    EXPECT_EQ(program.ExitCode(), 0);
    EXPECT_EQ(Render(ParseWrittenFile(ReadFileBytes("verdata.mul"))),
              "(1,1,64,3,0)3*a (1,3,67,2,0)2*N (1,5,69,1,0)1*P");
    EXPECT_EQ(directory.Names(), (std::vector<std::string>{"patchdata.mul", "verdata.mul"}));
}

// Another program reads the target, sharing read and write but not delete, as a virus scanner
// or an indexer does: a hold that ends within about 2 s only delays the replace; a longer one
// ends the run in "Error writing Verdata.mul", with no pause and no "Done.", the files as they
// were, and the window open for another try.
TEST_F(EndToEnd, AShortHoldOnTheTargetDelaysTheReplaceALongOneRefusesIt) {
    const Bytes target = File({{1, 1, 3, 'a'}});
    const Bytes patch = File({{1, 2, 1, 'P'}});
    for (const DWORD holdMs : {700u, 6000u}) {
        WriteFileBytes("verdata.mul", target);
        WriteFileBytes("patchdata.mul", patch);
        const HANDLE holder =
            ::CreateFileA("verdata.mul", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        Program program(exePath);
        ASSERT_TRUE(program.Started());
        program.Click();
        ::Sleep(holdMs);
        ::CloseHandle(holder);
        const HWND box = program.WaitForBox();
        ExpectBox(program, box, holdMs < 2000 ? "Done." : "Error writing Verdata.mul");
        Dismiss(box);
        EXPECT_EQ(directory.Names(), (std::vector<std::string>{"patchdata.mul", "verdata.mul"}));
        if (holdMs < 2000) {
            EXPECT_EQ(program.ExitCode(), 0);
            EXPECT_EQ(ParseWrittenFile(ReadFileBytes("verdata.mul")).Blocks.size(), 2u);
            continue;
        }
        EXPECT_EQ(program.ExitCode(3500), -1) << "no pause, no \"Done.\", the window stays";
        EXPECT_EQ(program.FindBox(), nullptr);
        EXPECT_TRUE(ReadFileBytes("verdata.mul") == target);
        ::PostMessageA(program.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_EQ(program.ExitCode(), 0);
    }
}

// One press in the current directory, for timing runs on large files.
int PressOnce() {
    Program program(exePath);
    if (!program.Started())
        return std::fprintf(stderr, "the window did not appear\n"), 1;
    const DWORD start = ::GetTickCount();
    program.Click();
    const HWND box = program.WaitForBox(30 * 60 * 1000);  // a gigabyte under emulation
    const DWORD elapsed = ::GetTickCount() - start;
    if (box == nullptr)
        return std::fprintf(stderr, "no box after 30 minutes\n"), 1;
    PROCESS_MEMORY_COUNTERS memory{};
    ::GetProcessMemoryInfo(program.Process(), &memory, sizeof memory);
    std::printf("box: %s\npress to box: %lu ms\npeak working set: %.1f MiB\n", BoxText(box).c_str(),
                static_cast<unsigned long>(elapsed),
                static_cast<double>(memory.PeakWorkingSetSize) / (1024.0 * 1024.0));
    Dismiss(box);
    const long code = program.ExitCode();
    std::printf("exit code: %ld\n", code);
    return code == 0 ? 0 : 1;
}

}  // namespace
}  // namespace quelvane::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const bool press = argc == 3 && std::strcmp(argv[1], "--press") == 0;
    if (argc != 2 && !press)
        return std::fprintf(stderr,
                            "usage: quelvane_e2e_driver [--press] PATH\\TO\\quelvane.exe\n"),
               2;
    char full[MAX_PATH] = {};
    ::GetFullPathNameA(argv[argc - 1], MAX_PATH, full, nullptr);
    quelvane::testing::exePath = full;
    return press ? quelvane::testing::PressOnce() : RUN_ALL_TESTS();
}
