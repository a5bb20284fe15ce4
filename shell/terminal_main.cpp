// The native build's stand-in for the window, in a terminal.
//
// At a terminal it shows "Quelvane [ Go! ]" and reads single keys: Enter presses "Go!", Escape
// closes. Otherwise each line of standard input is one press and the end of input closes. Boxes
// are single lines (see the POSIX platform). Exit codes are the window's: 0 after a close, the
// error number after an error stop.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "shell/run_patch.h"
#include "support/error_stop.h"
#include "support/platform.h"

namespace {

enum class Press { Go, Close };

constexpr char kEscape = 27;

// One key at the terminal, read with echo and line editing off only while waiting, so that a box
// shown during the run reads its Enter as usual and an error stop leaves the terminal sane.
int ReadKey() {
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0)
        return EOF;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    unsigned char key = 0;
    int result = ::read(STDIN_FILENO, &key, 1) == 1 ? key : EOF;
    if (result == kEscape) {
        // An arrow or function key sends Escape followed by more bytes at once: not a close.
        pollfd more{STDIN_FILENO, POLLIN, 0};
        if (::poll(&more, 1, 30) > 0) {
            unsigned char rest[16];
            (void)::read(STDIN_FILENO, rest, sizeof rest);
            result = 0;
        }
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return result;
}

Press WaitAtTerminal() {
    for (;;) {
        const int key = ReadKey();
        if (key == EOF || key == kEscape)
            return Press::Close;
        if (key == '\n' || key == '\r')
            return Press::Go;
    }
}

Press WaitForLine() {
    for (;;) {
        const int c = std::getchar();
        if (c == EOF)
            return Press::Close;
        if (c == '\n')
            return Press::Go;
    }
}

}  // namespace

int main() {
    quelvane::InstallErrorStopHandlers();
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    if (terminal) {
        std::printf("Quelvane [ Go! ]  Enter: Go!   Esc: close\n");
        std::fflush(stdout);
    }
    for (;;) {
        const Press press = terminal ? WaitAtTerminal() : WaitForLine();
        if (press == Press::Close)
            break;
        if (quelvane::RunPatch())
            break;  // "Done." closes the window
    }
    std::fflush(stdout);
    return 0;
}
