// Works quelvane.exe through its real window, as any other program would, in fresh directories.
// Usage: quelvane_e2e_driver [--press] PATH\TO\quelvane.exe (--press: one press of "Go!" in the
// current directory, reporting the box, the time to it and the peak working set).
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_files.h"

namespace quelvane::testing {
namespace {

std::string exePath;

// Generous: under emulation everything is slow.
constexpr DWORD kTimeoutMs = 120000;

template <typename Predicate>
bool WaitFor(Predicate predicate, DWORD timeoutMs = kTimeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (predicate())
            return true;
        ::Sleep(50);
    }
    return predicate();
}

std::string TextOf(HWND window) {
    char text[256] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

// The text a message box shows: its static control's.
std::string BoxText(HWND box) {
    char text[512] = {};
    ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    return text;
}

void Dismiss(HWND box) {
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// The icon a message box shows, or null. Its control is 20 on Windows and 1088 under Wine.
HICON IconOf(HWND box) {
    HWND control = ::GetDlgItem(box, 20);
    control = control != nullptr ? control : ::GetDlgItem(box, 1088);
    return control == nullptr ? nullptr
                              : reinterpret_cast<HICON>(::SendMessageA(control, STM_GETICON, 0, 0));
}

// exePath started in the current directory; ended by force if still running at the end.
class Program {
  public:
    Program() {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + exePath + "\"";
        if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process_) == 0) {
            process_ = {};
            return;
        }
        // The button comes a moment after the window: wait for both before any click.
        WaitFor([&] {
            window_ = ::FindWindowA("Quelvane", nullptr);
            DWORD pid = 0;
            ::GetWindowThreadProcessId(window_, &pid);
            window_ = pid == process_.dwProcessId ? window_ : nullptr;
            return Started();
        });
    }
    ~Program() {
        if (process_.hProcess == nullptr)
            return;
        if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.hProcess, 99);
            ::WaitForSingleObject(process_.hProcess, kTimeoutMs);
        }
        ::CloseHandle(process_.hThread);
        ::CloseHandle(process_.hProcess);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return window_ != nullptr && Button() != nullptr; }
    HWND Window() const { return window_; }
    HWND Button() const { return ::FindWindowExA(window_, nullptr, "Button", nullptr); }
    HANDLE Process() const { return process_.hProcess; }
    void Click() const { ::PostMessageA(Button(), BM_CLICK, 0, 0); }

    // The exit code once the process has ended, or -1 if it is still running after `timeoutMs`.
    long ExitCode(DWORD timeoutMs = kTimeoutMs) const {
        DWORD code = 0;
        if (::WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return -1;
        ::GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<long>(code);
    }

    // The visible dialog boxes of this process.
    std::vector<HWND> Boxes() const {
        std::vector<HWND> boxes;
        for (HWND box = nullptr; (box = ::FindWindowExA(nullptr, box, "#32770", nullptr));) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(box, &pid);
            if (pid == process_.dwProcessId && ::IsWindowVisible(box))
                boxes.push_back(box);
        }
        return boxes;
    }
    HWND FindBox() const {
        const std::vector<HWND> boxes = Boxes();
        return boxes.empty() ? nullptr : boxes.front();
    }
    HWND WaitForBox(DWORD timeoutMs = kTimeoutMs) const {
        HWND box = nullptr;
        WaitFor([&] { return (box = FindBox()) != nullptr; }, timeoutMs);
        return box;
    }

  private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

// A box of the program, owned by its window, with an icon (icon handles of other processes
// cannot be compared: which icon the unit tests check).
void ExpectBox(const Program& program, HWND box, const std::string& text) {
    ASSERT_NE(box, nullptr) << "no box for \"" << text << "\"";
    EXPECT_EQ(TextOf(box), "Quelvane");
    EXPECT_EQ(BoxText(box), text);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), program.Window());
    EXPECT_NE(IconOf(box), nullptr) << "the box for \"" << text << "\" shows no icon";
    EXPECT_FALSE(::IsWindowEnabled(program.Window())) << "the box does not disable the window";
}

class EndToEnd : public ::testing::Test {
  protected:
    TempDirectory directory;
};

// A window's class, text, styles (less WS_CLIPSIBLINGS, which the system adds to every
// top-level window), control id, and place and size within its parent (or on the screen).
std::string Describe(HWND window) {
    RECT place{};
    ::GetWindowRect(window, &place);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&place), 2);
    char text[200];
    std::snprintf(text, sizeof text, "%s \"%s\" %08lX %08lX id %d %ldx%ld", ClassOf(window).c_str(),
                  TextOf(window).c_str(), ::GetWindowLongA(window, GWL_STYLE) & ~WS_CLIPSIBLINGS,
                  ::GetWindowLongA(window, GWL_EXSTYLE), ::GetDlgCtrlID(window),
                  place.right - place.left, place.bottom - place.top);
    return text + (::GetParent(window)
                       ? " at " + std::to_string(place.left) + "," + std::to_string(place.top)
                       : "");
}

TEST_F(EndToEnd, TheWindowAndItsButtonAreAsDesigned) {
    Program program;
    ASSERT_TRUE(program.Started()) << "the main window and its button did not appear";
    // A topmost tool window with an edge (0x188), caption and system menu; a plain push button.
    EXPECT_EQ(Describe(program.Window()), "Quelvane \"Quelvane\" 10C80000 00000188 id 0 150x80");
    EXPECT_EQ(Describe(program.Button()), "Button \"Go!\" 50000C00 00000000 id 0 125x40 at 10,5");
}

TEST_F(EndToEnd, EscapeAndTheCloseBoxEndWithZeroOtherKeysDoNothing) {
    for (const bool closeBox : {false, true}) {
        Program program;
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

// Whether this is Wine, which has no POSIX-semantics rename through a handle (Windows 10 1607
// on NTFS has it: a file renamed over one that another handle holds with delete sharing), and
// cannot keep a creation time set on a file.
bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// The longest name made, renamed or removed in the current directory from its start to `Stop`,
// or -1 when none was.
class NameTrace {
  public:
    NameTrace() : thread_(::CreateThread(nullptr, 0, Watch, this, 0, nullptr)) { ::Sleep(100); }
    long Stop() {
        stop_ = 1;
        ::WaitForSingleObject(thread_, INFINITE);
        ::CloseHandle(thread_);
        return longest_;
    }

  private:
    static DWORD WINAPI Watch(LPVOID self) {
        auto* trace = static_cast<NameTrace*>(self);
        const HANDLE folder = ::CreateFileA(
            ".", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        alignas(DWORD) unsigned char buffer[8192];
        OVERLAPPED ready{};
        ready.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        for (DWORD got = 0; trace->stop_ == 0;) {
            ::ResetEvent(ready.hEvent);
            ::ReadDirectoryChangesW(folder, buffer, sizeof buffer, FALSE,
                                    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME,
                                    nullptr, &ready, nullptr);
            while (trace->stop_ == 0 && ::WaitForSingleObject(ready.hEvent, 20) == WAIT_TIMEOUT) {
            }
            if (::GetOverlappedResult(folder, &ready, &got, FALSE) == 0)
                break;
            for (auto* change = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(buffer); got != 0;
                 change = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(
                     reinterpret_cast<unsigned char*>(change) + change->NextEntryOffset)) {
                trace->longest_ =
                    std::max(trace->longest_, static_cast<long>(change->FileNameLength / 2));
                if (change->NextEntryOffset == 0)
                    break;
            }
        }
        ::CancelIo(folder);
        ::CloseHandle(ready.hEvent);
        ::CloseHandle(folder);
        return 0;
    }

    HANDLE thread_;
    volatile LONG stop_ = 0;
    long longest_ = -1;
};

// What other programs and earlier runs leave, in a folder whose path is 243 characters long, the
// deepest where "verdata.mul.new" fits within the 259 characters of a path (MAX_PATH). A
// holder that shares delete, or holds only the attributes, refuses nothing where the
// POSIX-semantics rename exists, and elsewhere refuses the run at the replace with everything as
// it was (one without delete sharing is the next test's). Leftovers of crashed runs (an older
// version's too, and a read-only one) are no obstacle; a read-only one with a second name is
// covered by the rename (Windows 10 1809 on ignores read-only, and so does Wine; an older
// Windows refuses the run instead), and the other name keeps its mark; a folder under the
// temporary file's name refuses the run at once and stays. A hidden, system target stays so, with
// its creation time. No name the run makes is longer than "verdata.mul.new".
TEST_F(EndToEnd, HoldersLeftoversAndAttributesInADeepFolder) {
    const char* const kHeld = UnderWine() ? "Error writing Verdata.mul" : "Done.";
    std::printf("[ this system ] a holder that shares delete: %s\n", kHeld);
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    struct Case {
        const char* Name;
        DWORD Access, Share;  // of a holder of the target until the box, if any
        // "name"; "name/" for a folder; "name=other" a second name of the file "other";
        // "name>folder/" a link to the folder "folder"
        std::vector<std::string> Leftovers;
        DWORD Attributes;  // of the target, or of the leftovers when read-only
        const char* Box;
    };
    const Case cases[] = {
        {"a holder sharing delete", GENERIC_READ, all, {}, 0, kHeld},
        {"a holder of the attributes", FILE_READ_ATTRIBUTES, all, {}, 0, kHeld},
        {"leftovers", 0, 0, {"verdata.mul.new", "verdata.mul.new.gone"}, 0, "Done."},
        {"a read-only leftover", 0, 0, {"verdata.mul.new"}, FILE_ATTRIBUTE_READONLY, "Done."},
        {"a read-only leftover with a second name",
         0,
         0,
         {"verdata.mul.new=other"},
         FILE_ATTRIBUTE_READONLY,
         "Done."},
        {"a folder in the way", 0, 0, {"verdata.mul.new/"}, 0, "Error writing Verdata.mul"},
        {"hidden and system", 0, 0, {}, hiddenSystem, "Done."},
    };
    std::string deep = directory.Path();
    constexpr std::size_t kDeepest = 259 - 1 - 15;  // "\\verdata.mul.new" within MAX_PATH - 1
    for (char part = 'a'; deep.size() < kDeepest; ++part)
        deep += "/" + std::string(std::min<std::size_t>(40, kDeepest - deep.size() - 1), part);
    const Bytes target = File({{1, 1, 3, 'a'}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(deep);
        std::filesystem::create_directories(deep);
        ASSERT_NE(::SetCurrentDirectoryA(deep.c_str()), 0);
        WriteFileBytes("verdata.mul", target);
        WriteFileBytes("patchdata.mul", File({{1, 2, 1, 'P'}}));
        std::vector<std::string> expected = {"patchdata.mul", "verdata.mul"};
        std::string other;  // the file that a leftover is a second name of
        for (const std::string& leftover : c.Leftovers) {
            const std::string name = leftover.substr(0, leftover.find('='));
            if (name.back() == '/') {
                // Empty: nothing deeper fits the path's 259 characters at this depth.
                std::filesystem::create_directories(name);
                expected.push_back(name.substr(0, name.size() - 1));
                continue;
            }
            if (const auto same = leftover.find('='); same != std::string::npos) {
                other = leftover.substr(same + 1);
                WriteFileBytes(other, Bytes(5, 'x'));
                ASSERT_NE(::CreateHardLinkA(name.c_str(), other.c_str(), nullptr), 0);
                expected.push_back(other);
            } else {
                WriteFileBytes(name, Bytes(5, 'x'));
            }
            ::SetFileAttributesA(name.c_str(), c.Attributes | FILE_ATTRIBUTE_ARCHIVE);
            if (name.size() > 15 || (!other.empty() && std::string(c.Box) != "Done."))
                expected.push_back(name);  // an older version's, or refused: not this one's
        }
        std::sort(expected.begin(), expected.end());
        if (c.Leftovers.empty() && c.Attributes != 0) {
            ASSERT_NE(::SetFileAttributesA("verdata.mul", c.Attributes), 0);
        }
        WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
        ::GetFileAttributesExA("verdata.mul", GetFileExInfoStandard, &before);
        const HANDLE holder = c.Access == 0
                                  ? INVALID_HANDLE_VALUE
                                  : ::CreateFileA("verdata.mul", c.Access, c.Share, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_EQ(holder != INVALID_HANDLE_VALUE, c.Access != 0);
        Program program;
        ASSERT_TRUE(program.Started());
        NameTrace trace;
        const DWORD start = ::GetTickCount();
        program.Click();
        const HWND box = program.WaitForBox();
        const DWORD took = ::GetTickCount() - start;
        const long longest = trace.Stop();
        EXPECT_LE(longest, 15) << "a name longer than verdata.mul.new";
        ExpectBox(program, box, c.Box);
        Dismiss(box);
        if (holder != INVALID_HANDLE_VALUE)
            ::CloseHandle(holder);
        const bool done = std::string(c.Box) == "Done.";
        if (!c.Leftovers.empty() && !done) {
            EXPECT_LT(took, 1000u) << "a folder in the way is not waited for";
        }
        EXPECT_EQ(program.ExitCode(done ? kTimeoutMs : 3500), done ? 0 : -1);
        EXPECT_EQ(Render(ReadFileBytes("verdata.mul")),
                  done ? "(1,1,44,3,0)3*a (1,2,47,1,0)1*P" : Render(target));
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator("."))
            left.push_back(entry.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, expected);
        if (!other.empty()) {
            EXPECT_EQ(::GetFileAttributesA(other.c_str()) & FILE_ATTRIBUTE_READONLY,
                      DWORD{FILE_ATTRIBUTE_READONLY})
                << "the other name's read-only mark was cleared";
            EXPECT_TRUE(ReadFileBytes(other) == Bytes(5, 'x'));
            ::SetFileAttributesA(other.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::SetFileAttributesA("verdata.mul.new", FILE_ATTRIBUTE_NORMAL);
        }
        ::GetFileAttributesExA("verdata.mul", GetFileExInfoStandard, &after);
        EXPECT_EQ(after.dwFileAttributes & hiddenSystem, c.Leftovers.empty() ? c.Attributes : 0u);
        EXPECT_TRUE(UnderWine() ||  // Wine on Linux cannot keep a creation time
                    ::CompareFileTime(&after.ftCreationTime, &before.ftCreationTime) == 0);
        ::SetFileAttributesA("verdata.mul", FILE_ATTRIBUTE_NORMAL);
        ::SetCurrentDirectoryA(directory.Path().c_str());
    }
}

// The error stop on the run's thread: its own box (caption "Error", no owner, no icon); a press
// of Go! while it is up starts nothing (a run would show a box of its own within 2.5 s); then the
// process ends with the stop's number.
TEST_F(EndToEnd, TheErrorStopShowsItsBoxAndEndsWithItsNumber) {
    const Bytes target = File({{1, 1, 3, 'a'}});
    WriteFileBytes("verdata.mul", Bytes(target.begin(), target.end() - 1));
    WriteFileBytes("patchdata.mul", File({{1, 2, 1, 'P'}}));
    Program program;
    ASSERT_TRUE(program.Started());
    program.Click();
    const HWND box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(TextOf(box) + ": " + BoxText(box), "Error: Runtime error 100 at 00401050");
    EXPECT_EQ(::GetWindow(box, GW_OWNER), nullptr);
    EXPECT_EQ(IconOf(box), nullptr);
    program.Click();
    ::Sleep(2500);
    EXPECT_EQ(program.Boxes(), std::vector<HWND>{box}) << "a run started under the box";
    Dismiss(box);
    EXPECT_EQ(program.ExitCode(), 100);
}

// What is given to the window 0.3 s into a run.
enum class Given { Nothing, EscapeGoAndAltF4, CloseBox };

// Input as the window would get it from the keyboard: to the control with the focus.
void PostKey(const Program& program, UINT message, WPARAM key, LPARAM flags) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(program.Window(), nullptr), &info);
    ::PostMessageA(info.hwndFocus != nullptr ? info.hwndFocus : program.Window(), message, key,
                   flags);
}

// During a run made long by a holder of the target (released after HoldMs, or never), the window
// answers the system within 1 s at every moment, and input given meanwhile neither starts nor
// ends anything, nor reaches the box that ends the run: that box comes (after the pause, for
// "Done.") and stays up until answered.
TEST_F(EndToEnd, TheWindowAnswersDuringARunAndInputNeverSwallowsItsResult) {
    struct Case {
        const char* Name;
        DWORD HoldMs;
        Given Input;
        const char* Box;
    };
    const Case cases[] = {
        {"a run held 1.2 s at its open", 1200, Given::Nothing, "Done."},
        {"Escape, Go! and Alt+F4 during the run", 1200, Given::EscapeGoAndAltF4, "Done."},
        {"the close box during the run", 0, Given::CloseBox, "Done."},
        {"Escape, Go! and Alt+F4 during a refused run", 60000, Given::EscapeGoAndAltF4,
         "Error opening Verdata.mul"},
    };
    const Bytes target = File({{1, 1, 3, 'a'}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFileBytes("verdata.mul", target);
        WriteFileBytes("patchdata.mul", File({{1, 2, 1, 'P'}}));
        HANDLE holder =
            c.HoldMs == 0
                ? INVALID_HANDLE_VALUE
                : ::CreateFileA("verdata.mul", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        Program program;
        ASSERT_TRUE(program.Started());
        const DWORD start = ::GetTickCount();
        program.Click();
        DWORD slowest = 0;
        bool given = false;
        HWND box = nullptr;
        for (DWORD now = 0; box == nullptr && now < kTimeoutMs; now = ::GetTickCount() - start) {
            const DWORD asked = ::GetTickCount();
            DWORD_PTR answer = 0;
            if (::SendMessageTimeoutA(program.Window(), WM_NULL, 0, 0, SMTO_NORMAL, 1000,
                                      &answer) == 0) {
                slowest = std::max<DWORD>(slowest, 1000);
            }
            slowest = std::max(slowest, ::GetTickCount() - asked);
            if (now >= 300 && !std::exchange(given, true) && c.Input == Given::EscapeGoAndAltF4) {
                PostKey(program, WM_KEYDOWN, VK_ESCAPE, 0);
                program.Click();
                PostKey(program, WM_SYSKEYDOWN, VK_F4, 1 << 29);  // with Alt held
            }
            if (now >= 300 && given && c.Input == Given::CloseBox)
                ::PostMessageA(program.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
            if (holder != INVALID_HANDLE_VALUE && now >= c.HoldMs) {
                ::CloseHandle(holder);
                holder = INVALID_HANDLE_VALUE;
            }
            ::Sleep(100);
            box = program.FindBox();
        }
        std::printf("[ %s ] slowest answer during the run: %lu ms\n", c.Name,
                    static_cast<unsigned long>(slowest));
        EXPECT_LT(slowest, 1000u) << "the window stopped answering during the run";
        ExpectBox(program, box, c.Box);
        const bool done = std::string(c.Box) == "Done.";
        EXPECT_TRUE(!done || ::GetTickCount() - start >= 2400) << "the pause comes before it";
        ::Sleep(1000);
        EXPECT_EQ(program.FindBox(), box) << "the box went without an answer";
        Dismiss(box);
        if (holder != INVALID_HANDLE_VALUE)
            ::CloseHandle(holder);
        EXPECT_EQ(program.ExitCode(done ? kTimeoutMs : 1500), done ? 0 : -1);
        EXPECT_EQ(program.FindBox(), nullptr) << "a second run";
        EXPECT_EQ(Render(ReadFileBytes("verdata.mul")),
                  done ? "(1,1,44,3,0)3*a (1,2,47,1,0)1*P" : Render(target));
        EXPECT_EQ(directory.Names(), (std::vector<std::string>{"patchdata.mul", "verdata.mul"}));
        if (!done) {
            ::PostMessageA(program.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
            EXPECT_EQ(program.ExitCode(), 0) << "the window answers again after the run";
        }
    }
}

// The button says how far a run has come: percentages that grow while a long write goes on
// (a 256 MiB block, a hole on the Linux side), read as any program reads another's window; and
// "Go!" again once a refused run leaves the window open.
TEST_F(EndToEnd, TheButtonSaysHowFarARunHasCome) {
    constexpr std::int32_t kLength = 256 << 20;
    WriteFileBytes("verdata.mul", FileBuilder().Entry({1, 1, 24, kLength, 0}).Build());
    std::filesystem::resize_file("verdata.mul", 24 + kLength);
    WriteFileBytes("patchdata.mul", File({{1, 2, 1, 'P'}}));
    std::vector<std::string> captions;
    {
        Program program;
        ASSERT_TRUE(program.Started());
        program.Click();
        HWND box = nullptr;
        for (; box == nullptr; box = program.FindBox()) {
            const std::string caption = TextOf(program.Button());
            if (captions.empty() || captions.back() != caption)
                captions.push_back(caption);
            ::Sleep(10);
        }
        ExpectBox(program, box, "Done.");
        Dismiss(box);
        EXPECT_EQ(program.ExitCode(), 0);
    }
    std::string seen;
    std::vector<int> percentages;
    for (const std::string& caption : captions) {
        seen += "[" + caption + "] ";
        if (caption.size() > 2 && caption.substr(caption.size() - 2) == " %")
            percentages.push_back(std::stoi(caption));
    }
    std::printf("[ captions ] %s\n", seen.c_str());
    EXPECT_GE(percentages.size(), 2u) << seen;
    EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end())) << seen;
    EXPECT_EQ(captions.back(), "Saving...") << seen;
    std::filesystem::remove("patchdata.mul");
    Program program;
    ASSERT_TRUE(program.Started());
    program.Click();
    const HWND box = program.WaitForBox();
    ExpectBox(program, box, "Error opening Patchdata.mul");
    EXPECT_EQ(TextOf(program.Button()), "...");
    Dismiss(box);
    EXPECT_TRUE(WaitFor([&] { return TextOf(program.Button()) == "Go!"; }, 5000));
}

// The session ends during a long write, in each way the system ends it: a query held off by the
// run and then WM_ENDSESSION(FALSE); a forced end (the query with ENDSESSION_CRITICAL, answered,
// then WM_ENDSESSION with that answer); WM_ENDSESSION(TRUE) alone, after a logoff that went
// ahead. The window answers within about 5 s, the run having finished or stopped at its next
// step with its new file removed (a stop ends the process); the system then ends the process at
// once (here by force), and the target is the old file or the new one, with nothing beside it.
TEST_F(EndToEnd, TheSessionsEndLeavesTheOldFileOrTheNewAndNothingElse) {
    constexpr std::int32_t kLength = 256 << 20;
    const auto critical = static_cast<LPARAM>(static_cast<LONG>(ENDSESSION_CRITICAL));
    const auto logoff = static_cast<LPARAM>(static_cast<LONG>(ENDSESSION_LOGOFF));
    struct Case {
        const char* Name;
        bool Query;
        LPARAM How;
        DWORD_PTR Answer;  // to the query, when there is one: what WM_ENDSESSION carries
    };
    for (const Case& c : {Case{"held off, then WM_ENDSESSION(FALSE)", true, 0, 0},
                          Case{"forced: the critical query, then its answer", true, critical, 1},
                          Case{"WM_ENDSESSION(TRUE) alone", false, logoff, 1}}) {
        SCOPED_TRACE(c.Name);
        WriteFileBytes("verdata.mul", FileBuilder().Entry({1, 1, 24, kLength, 0}).Build());
        std::filesystem::resize_file("verdata.mul", 24 + kLength);
        WriteFileBytes("patchdata.mul", File({{1, 2, 1, 'P'}}));
        Program program;
        ASSERT_TRUE(program.Started());
        program.Click();
        ASSERT_TRUE(WaitFor([&] {
            const std::string caption = TextOf(program.Button());
            return caption.size() > 2 && caption.substr(caption.size() - 2) == " %";
        })) << "the write did not begin";
        const DWORD start = ::GetTickCount();
        DWORD_PTR answer = 99;
        if (c.Query) {
            ::SendMessageTimeoutA(program.Window(), WM_QUERYENDSESSION, 0, c.How, SMTO_NORMAL,
                                  15000, &answer);
            // A forced end stops the run, which ends the process: no answer need come.
            EXPECT_TRUE(c.How == critical || answer == c.Answer) << "the query's answer";
        }
        ::SendMessageTimeoutA(program.Window(), WM_ENDSESSION, c.Answer, c.How, SMTO_NORMAL, 15000,
                              &answer);
        const DWORD took = ::GetTickCount() - start;
        EXPECT_LT(took, 6000u) << "the window kept the session's end waiting";
        ::TerminateProcess(program.Process(), 1);
        ::WaitForSingleObject(program.Process(), kTimeoutMs);
        const auto size = std::filesystem::file_size("verdata.mul");
        std::printf("[ session end ] %s: answered after %lu ms; the target is the %s file\n",
                    c.Name, static_cast<unsigned long>(took),
                    size == 24u + kLength ? "old" : "new");
        EXPECT_TRUE(size == 24u + kLength || size == 45u + kLength) << size;
        EXPECT_EQ(directory.Names(), (std::vector<std::string>{"patchdata.mul", "verdata.mul"}));
    }
}

// Two windows on one folder: the second's press during the first's run (held at its open by a
// holder that shares no delete) is refused at once, before the holder lets go; a logoff or
// shutdown asked for during a run is held off, and allowed again once the run is over; the
// first run ends "Done.".
TEST_F(EndToEnd, ARunMeetingAnotherIsRefusedAtOnceAndTheSessionWaitsForIt) {
    WriteFileBytes("verdata.mul", File({{1, 1, 3, 'a'}}));
    WriteFileBytes("patchdata.mul", File({{1, 2, 1, 'P'}}));
    const HANDLE holder =
        ::CreateFileA("verdata.mul", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Program first, second;
    ASSERT_TRUE(first.Started() && second.Started());
    const auto endSession = [](const Program& program) {
        DWORD_PTR answer = 99;
        ::SendMessageTimeoutA(program.Window(), WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 1000,
                              &answer);
        return answer;
    };
    EXPECT_EQ(endSession(first), 1u) << "no run yet: nothing to wait for";
    first.Click();
    ::Sleep(300);
    EXPECT_EQ(endSession(first), 0u) << "the session's end did not wait for the run";
    const DWORD start = ::GetTickCount();
    second.Click();
    const HWND refused = second.WaitForBox(1000);
    EXPECT_LT(::GetTickCount() - start, 1000u) << "the second run was not refused at once";
    ExpectBox(second, refused, "Error opening Verdata.mul");
    ::CloseHandle(holder);
    const HWND done = first.WaitForBox();
    ExpectBox(first, done, "Done.");
    Dismiss(done);
    Dismiss(refused);
    ::Sleep(200);
    EXPECT_EQ(endSession(second), 1u) << "the refused run is over";
    EXPECT_EQ(first.ExitCode(), 0);
    EXPECT_EQ(second.ExitCode(1000), -1) << "a refused run leaves the window";
    EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), "(1,1,44,3,0)3*a (1,2,47,1,0)1*P");
    EXPECT_EQ(directory.Names(), (std::vector<std::string>{"patchdata.mul", "verdata.mul"}));
}

// One press in the current directory, for timing runs on large files.
int PressOnce() {
    Program program;
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
