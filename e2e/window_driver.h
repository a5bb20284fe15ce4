// Works a running quelvane.exe through its real window, as any other program would: finds the
// window and its button, clicks, finds, reads and dismisses the boxes, waits for the exit.
#pragma once

#include <windows.h>

#include <string>

namespace quelvane::testing {

// Generous: under emulation everything is slow.
inline constexpr DWORD kTimeoutMs = 120000;

template <typename Predicate>
bool WaitFor(Predicate predicate, DWORD timeoutMs = kTimeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (predicate())
            return true;
        ::Sleep(50);
    }
    return predicate();
}

std::string TextOf(HWND window);
std::string ClassOf(HWND window);

// A quelvane.exe started in the current directory; ended by force if still running at the end.
class Program {
  public:
    explicit Program(const std::string& exePath);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Whether the process started and showed its window with the button.
    bool Started() const { return window_ != nullptr && Button() != nullptr; }
    HWND Window() const { return window_; }
    HWND Button() const { return ::FindWindowExA(window_, nullptr, "Button", nullptr); }
    HANDLE Process() const { return process_.hProcess; }

    // The exit code once the process has ended, or -1 if it is still running after `timeoutMs`.
    long ExitCode(DWORD timeoutMs = kTimeoutMs) const;
    // A visible dialog box of this process, or null.
    HWND FindBox() const;
    HWND WaitForBox(DWORD timeoutMs = kTimeoutMs) const;
    void Click() const { ::PostMessageA(Button(), BM_CLICK, 0, 0); }

  private:
    HWND FindMainWindow() const;

    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

// The text a message box shows.
std::string BoxText(HWND box);
// Presses the box's OK.
void Dismiss(HWND box);
// The icon a message box shows, or null.
HICON IconOf(HWND box);

}  // namespace quelvane::testing
