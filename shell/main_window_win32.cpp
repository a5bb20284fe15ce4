// The Windows window: one small topmost tool window with one "Go!" button, whose press runs
// one patch on a thread of its own. During a run the button says how far it has come ("...",
// then "37 %", "Saving..."), and "Go!" again when the window stays for another try.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "shell/run_patch.h"
#include "support/boxes.h"
#include "support/error_stop.h"
#include "support/locations.h"
#include "support/platform.h"
#include "support/progress.h"

namespace {

constexpr char kClassName[] = "Quelvane";
constexpr DWORD kMainWindowExStyle = WS_EX_PALETTEWINDOW;  // edge, tool window, topmost
constexpr DWORD kMainWindowStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | BS_VCENTER;

// Sent by the run's thread to the window when the run has ended; wParam 1 when it completed.
constexpr UINT kRunEnded = WM_APP + 1;
// Posted by the run's thread as the write goes on: wParam the percentage written, or kFlushing.
constexpr UINT kRunProgress = WM_APP + 2;
constexpr WPARAM kFlushing = 101;
// The button's caption while a run loads, before the write begins.
constexpr char kLoadingCaption[] = "...";
// How often the run's thread tells the window at most: about ten times a second.
constexpr DWORD kProgressEveryMs = 100;

HWND MainWindow = nullptr;
HWND GoButton = nullptr;
// The run under way, from the press until its end reaches the window; null when none is.
HANDLE runThread = nullptr;
// Set by the window's thread when the session ends during a run: the run's thread stops at its
// next report of the write's progress (the last one comes just before the flush), a point where
// nothing but its own new file has been made, which it removes. The flush and the rename that
// follow the write are never cut off.
std::atomic<bool> sessionEnding = false;
// Set by the run's thread once its write is over, whichever way (the file is the old or the new
// one, nothing beside it): what remains (the pause, "Done.") holds nothing up.
std::atomic<bool> writeOver = false;
// How long the window waits, when the session ends, for the run to finish or stop: Windows
// kills a program about 5 s after a forced end of the session, so the answer comes before that.
constexpr DWORD kSessionEndWaitMs = 4000;
// Posted by the run's thread when its write is over: the session's end is no longer held off.
constexpr UINT kWriteOver = WM_APP + 3;

// The run's progress reporter, on the run's thread: the window's own thread changes the caption.
// A post goes only when the percentage has changed, and not within 100 ms of the last one.
void PostProgress(std::int64_t written, std::int64_t total) {
    if (sessionEnding && written != quelvane::kProgressEnded)
        quelvane::EndWithoutBox(0);  // the target as it was, the new file gone
    static WPARAM shown = kFlushing + 1;
    static DWORD postedAt = 0;
    if (written == quelvane::kProgressEnded) {
        shown = kFlushing + 1;  // the next run starts afresh
        writeOver = true;
        ::PostMessageA(MainWindow, kWriteOver, 0, 0);
        return;
    }
    const WPARAM now = written == quelvane::kProgressFlushing ? kFlushing
                       : total > 0 ? static_cast<WPARAM>(written * 100 / total)
                                   : 100;
    const DWORD tick = ::GetTickCount();
    if (now == shown || (now != kFlushing && tick - postedAt < kProgressEveryMs))
        return;
    shown = now;
    postedAt = tick;
    ::PostMessageA(MainWindow, kRunProgress, now, 0);
}

void ShowProgress(WPARAM percent) {
    char caption[16];
    if (percent == kFlushing)
        std::snprintf(caption, sizeof caption, "Saving...");
    else
        std::snprintf(caption, sizeof caption, "%u %%", static_cast<unsigned>(percent));
    ::SetWindowTextA(GoButton, caption);
}

// A run works on a thread of its own, so that the window's thread keeps reading its messages:
// it repaints, moves and answers the system however long the run takes, and Windows never
// marks it as not responding. The run's boxes are owned by the window as before, and disable
// it while they are up. An error stop on this thread ends the process with its number.
DWORD WINAPI RunOnItsThread(LPVOID) {
    const bool done = quelvane::RunPatch();
    ::PostMessageA(MainWindow, kRunEnded, done ? 1 : 0, 0);
    return 0;
}

void PressGo() {
    // No run starts inside another one, nor while the error stop's box is up: that box has no
    // owner, so the window stays enabled and its clicks still arrive here.
    if (runThread != nullptr || quelvane::ErrorStopInProgress())
        return;
    ::SetWindowTextA(GoButton, kLoadingCaption);
    writeOver = false;
    runThread = ::CreateThread(nullptr, 0, RunOnItsThread, nullptr, 0, nullptr);
    if (runThread == nullptr)
        quelvane::ErrorStop(quelvane::kErrorUnhandled, quelvane::kLocationUnhandled);
    // A logoff or shutdown waits for the run, and says why to the user who asked for it.
    ::ShutdownBlockReasonCreate(MainWindow, L"Patching verdata.mul");
}

// The run's thread has nothing left to do but end: its handle is let go without waiting for
// that, so the window's thread never blocks on it.
void RunEnded(bool done) {
    ::CloseHandle(runThread);
    runThread = nullptr;
    ::ShutdownBlockReasonDestroy(MainWindow);  // again, for a run that ended before its write
    if (done)
        ::PostMessageA(MainWindow, WM_CLOSE, 0, 0);  // "Done." closes the window
    else
        ::SetWindowTextA(GoButton, "Go!");  // the window stays for another try
}

// Whether a run's write is under way: the session's end is held off while it is.
bool Writing() {
    return runThread != nullptr && !writeOver;
}

// The session ends although a run is under way: a forced end (WM_QUERYENDSESSION with
// ENDSESSION_CRITICAL, which Windows follows by ending the process about 5 s later) or
// WM_ENDSESSION, whatever it says (a FALSE one may come before the forced end too). So the
// window asks the run to stop at its next step and waits, at most kSessionEndWaitMs, for it to
// finish or stop cleanly, before it answers. Messages sent to the window meanwhile (a box of
// the run's disables it) are still answered.
void WaitForRunAtSessionEnd() {
    sessionEnding = true;
    constexpr DWORD kLookEveryMs = 50;  // for the write's end, which the run's thread only marks
    const DWORD start = ::GetTickCount();
    for (DWORD waited = 0; waited < kSessionEndWaitMs && !writeOver;
         waited = ::GetTickCount() - start) {
        const DWORD woken = ::MsgWaitForMultipleObjects(
            1, &runThread, FALSE, std::min(kLookEveryMs, kSessionEndWaitMs - waited),
            QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
            return;  // the run's thread has ended, or the wait failed
        MSG message{};
        if (woken == WAIT_OBJECT_0 + 1)
            ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// The window's sizes at 96 DPI; they are scaled to the DPI the window is shown at.
constexpr int kWindowWidth = 150, kWindowHeight = 80;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED, which Windows 8.1's headers bring
constexpr int kButtonLeft = 10, kButtonTop = 5, kButtonWidth = 125, kButtonHeight = 40;
HFONT buttonFont = nullptr;

// The DPI of `window`'s monitor (GetDpiForWindow, Windows 10 1607 on), else the system's.
UINT DpiOf(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto forWindow = reinterpret_cast<DpiForWindow>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (forWindow != nullptr && window != nullptr) {
        if (const UINT dpi = forWindow(window); dpi != 0)
            return dpi;
    }
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int Scaled(int size, UINT dpi) {
    return ::MulDiv(size, static_cast<int>(dpi), 96);
}

// Lays the button out at `dpi`, with a font of its size: a system that stretches nothing
// (the manifest asks for that) leaves the window's content to the program.
void LayOutButton(UINT dpi) {
    const HFONT font =
        ::CreateFontA(-Scaled(9, dpi) * 96 / 72, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, "MS Shell Dlg 2");
    ::SetWindowPos(GoButton, nullptr, Scaled(kButtonLeft, dpi), Scaled(kButtonTop, dpi),
                   Scaled(kButtonWidth, dpi), Scaled(kButtonHeight, dpi),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageA(GoButton, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (buttonFont != nullptr)
        ::DeleteObject(buttonFont);
    buttonFont = font;
}

// While a run is under way, input starts nothing and closes nothing: a second press, Escape,
// Alt+F4, the close box and the system menu's Close are all let go, so none of it is left to
// reach the box that ends the run, and the run is never cut off halfway.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE && runThread == nullptr)
                ::SendMessageA(MainWindow, WM_CLOSE, 0, 0);
            return 0;
        case WM_COMMAND:
            PressGo();
            return 0;
        case WM_CLOSE:
            return runThread != nullptr ? 0 : ::DefWindowProcA(window, message, wParam, lParam);
        case WM_QUERYENDSESSION:
            if (!Writing())
                return TRUE;
            if ((lParam & ENDSESSION_CRITICAL) == 0)
                return FALSE;  // a write is not cut off halfway: the session waits for it
            WaitForRunAtSessionEnd();
            return TRUE;
        case WM_ENDSESSION:
            if (Writing())
                WaitForRunAtSessionEnd();
            return 0;
        case kDpiChanged: {  // moved to a monitor of another DPI: the size it suggests
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(window, nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            LayOutButton(HIWORD(wParam));
            return 0;
        }
        case kWriteOver:
            ::ShutdownBlockReasonDestroy(MainWindow);  // the pause and "Done." hold nothing up
            return 0;
        case kRunEnded:
            RunEnded(wParam != 0);
            return 0;
        case kRunProgress:
            if (runThread != nullptr)  // a post that arrives after the run's end is let go
                ShowProgress(wParam);
            return 0;
        default:
            return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

[[noreturn]] void RunMainWindow() {
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszClassName = kClassName;
    ::RegisterClassA(&windowClass);

    MainWindow = ::CreateWindowExA(kMainWindowExStyle, kClassName, kClassName, kMainWindowStyle,
                                   CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth, kWindowHeight,
                                   ::GetActiveWindow(), nullptr, instance, nullptr);
    if (MainWindow == nullptr) {
        ::MessageBoxA(MainWindow, "Error!", kClassName, MB_ICONERROR);
        ::ExitProcess(1);  // without the window the loop would wait for messages that never come
    }
    quelvane::SetBoxOwner(MainWindow);
    ::ShowWindow(MainWindow, SW_SHOWDEFAULT);
    ::UpdateWindow(MainWindow);
    GoButton =
        ::CreateWindowExA(0, "button", "Go!", kButtonStyle, kButtonLeft, kButtonTop, kButtonWidth,
                          kButtonHeight, MainWindow, nullptr, instance, nullptr);
    if (const UINT dpi = DpiOf(MainWindow); dpi != 96) {
        ::SetWindowPos(MainWindow, nullptr, 0, 0, Scaled(kWindowWidth, dpi),
                       Scaled(kWindowHeight, dpi), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    LayOutButton(DpiOf(MainWindow));

    MSG message{};
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    quelvane::Os().EndProcess(static_cast<std::uint32_t>(message.wParam));
    ::ExitProcess(1);  // not reached: ending the process does not return
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    quelvane::InstallErrorStopHandlers();
    quelvane::SetProgressReporter(PostProgress);
    RunMainWindow();
}
