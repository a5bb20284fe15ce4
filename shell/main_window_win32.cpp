// The Windows window: one small topmost tool window with one "Go!" button.
#include <windows.h>

#include "shell/run_patch.h"
#include "support/boxes.h"
#include "support/error_stop.h"
#include "support/platform.h"

namespace {

constexpr char kClassName[] = "Quelvane";
constexpr DWORD kMainWindowExStyle = WS_EX_PALETTEWINDOW;  // edge, tool window, topmost
constexpr DWORD kMainWindowStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | BS_VCENTER;

HWND MainWindow = nullptr;
HWND GoButton = nullptr;
bool running = false;

void PressGo() {
    // No run starts inside another one, nor while the error stop's box is up: that box has no
    // owner, so the window stays enabled and its clicks still arrive here.
    if (running || quelvane::ErrorStopInProgress())
        return;
    running = true;
    const bool done = quelvane::RunPatch();
    running = false;
    if (done)
        ::PostMessageA(MainWindow, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE)
                ::SendMessageA(MainWindow, WM_CLOSE, 0, 0);
            return 0;
        case WM_COMMAND:
            PressGo();
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
                                   CW_USEDEFAULT, CW_USEDEFAULT, 150, 80, ::GetActiveWindow(),
                                   nullptr, instance, nullptr);
    if (MainWindow == nullptr) {
        ::MessageBoxA(MainWindow, "Error!", kClassName, MB_ICONERROR);
        ::ExitProcess(1);  // without the window the loop would wait for messages that never come
    }
    quelvane::SetBoxOwner(MainWindow);
    ::ShowWindow(MainWindow, SW_SHOWDEFAULT);
    ::UpdateWindow(MainWindow);
    GoButton = ::CreateWindowExA(0, "button", "Go!", kButtonStyle, 10, 5, 125, 40, MainWindow,
                                 nullptr, instance, nullptr);

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
    RunMainWindow();
}
