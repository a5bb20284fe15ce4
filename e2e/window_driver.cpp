#include "e2e/window_driver.h"

namespace quelvane::testing {
namespace {

struct BoxSearch {
    DWORD Pid;
    HWND Found;
};

BOOL CALLBACK MatchBox(HWND candidate, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(candidate, &pid);
    if (pid == search->Pid && ClassOf(candidate) == "#32770" && ::IsWindowVisible(candidate)) {
        search->Found = candidate;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

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

Program::Program(const std::string& exePath) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command = "\"" + exePath + "\"";
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process_) == 0) {
        process_ = {};
        return;
    }
    // The button comes a moment after the window: wait for both before any click.
    WaitFor([&] { return (window_ = FindMainWindow()) != nullptr && Button() != nullptr; });
}

Program::~Program() {
    if (process_.hProcess == nullptr)
        return;
    if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.hProcess, 99);
        ::WaitForSingleObject(process_.hProcess, kTimeoutMs);
    }
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
}

long Program::ExitCode(DWORD timeoutMs) const {
    if (::WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
}

HWND Program::FindBox() const {
    BoxSearch search{process_.dwProcessId, nullptr};
    ::EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND Program::WaitForBox(DWORD timeoutMs) const {
    HWND box = nullptr;
    WaitFor([&] { return (box = FindBox()) != nullptr; }, timeoutMs);
    return box;
}

HWND Program::FindMainWindow() const {
    HWND candidate = ::FindWindowA("Quelvane", nullptr);
    if (candidate == nullptr)
        return nullptr;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(candidate, &pid);
    return pid == process_.dwProcessId ? candidate : nullptr;
}

std::string BoxText(HWND box) {
    char text[512] = {};
    ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the box's static text control
    return text;
}

void Dismiss(HWND box) {
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// Its icon control is 20 on Windows and 1088 under Wine.
HICON IconOf(HWND box) {
    HWND control = ::GetDlgItem(box, 20);
    if (control == nullptr)
        control = ::GetDlgItem(box, 1088);
    if (control == nullptr)
        return nullptr;
    return reinterpret_cast<HICON>(::SendMessageA(control, STM_GETICON, 0, 0));
}

}  // namespace quelvane::testing
