// Presses "Go!" once in a quelvane.exe started in the current directory and reports how the run
// went, for timing runs on large files: the box's text, the time from the press to the box (the
// run's 2500 ms pause included), the peak working set and the exit code.
// Usage: quelvane_press_go PATH\TO\quelvane.exe
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include <cstdio>

#include "e2e/window_driver.h"

int main(int argc, char** argv) {
    using namespace quelvane::testing;
    if (argc != 2) {
        std::fprintf(stderr, "usage: quelvane_press_go PATH\\TO\\quelvane.exe\n");
        return 2;
    }
    char full[MAX_PATH] = {};
    ::GetFullPathNameA(argv[1], MAX_PATH, full, nullptr);
    Program program(full);
    if (!program.Started()) {
        std::fprintf(stderr, "the window did not appear\n");
        return 1;
    }
    const DWORD start = ::GetTickCount();
    program.Click();
    // A run over a gigabyte under emulation may take a while.
    const HWND box = program.WaitForBox(30 * 60 * 1000);
    const DWORD elapsed = ::GetTickCount() - start;
    if (box == nullptr) {
        std::fprintf(stderr, "no box after 30 minutes\n");
        return 1;
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    const bool measured = ::GetProcessMemoryInfo(program.Process(), &memory, sizeof memory) != 0;
    std::printf("box: %s\n", BoxText(box).c_str());
    std::printf("press to box: %lu ms\n", static_cast<unsigned long>(elapsed));
    if (measured) {
        std::printf("peak working set: %.1f MiB\n",
                    static_cast<double>(memory.PeakWorkingSetSize) / (1024.0 * 1024.0));
    }
    Dismiss(box);
    const long code = program.ExitCode();
    std::printf("exit code: %ld\n", code);
    return code == 0 ? 0 : 1;
}
