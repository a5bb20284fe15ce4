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

inline std::string TextOf(HWND window) {
    char text[256] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

inline std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

// The text a message box shows: its static control's.
inline std::string BoxText(HWND box) {
    char text[512] = {};
    ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    return text;
}

// Presses the box's OK.
inline void Dismiss(HWND box) {
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// The icon a message box shows, or null. Its control is 20 on Windows and 1088 under Wine.
inline HICON IconOf(HWND box) {
    HWND control = ::GetDlgItem(box, 20);
    control = control != nullptr ? control : ::GetDlgItem(box, 1088);
    return control == nullptr ? nullptr
                              : reinterpret_cast<HICON>(::SendMessageA(control, STM_GETICON, 0, 0));
}

// A quelvane.exe started in the current directory; ended by force if still running at the end.
class Program {
  public:
    explicit Program(const std::string& exePath) {
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

    // Whether the process started and showed its window with the button.
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

    // A visible dialog box of this process, or null.
    HWND FindBox() const {
        struct Search {
            DWORD Pid;
            HWND Found;
        } search{process_.dwProcessId, nullptr};
        ::EnumWindows(
            [](HWND candidate, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD pid = 0;
                ::GetWindowThreadProcessId(candidate, &pid);
                if (pid != s->Pid || ClassOf(candidate) != "#32770" ||
                    !::IsWindowVisible(candidate))
                    return TRUE;
                s->Found = candidate;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.Found;
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

}  // namespace quelvane::testing
