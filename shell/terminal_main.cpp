// The native build's stand-in for the window, in a terminal.
//
// At a terminal it shows "Quelvane [ Go! ]" and reads single keys: Enter presses "Go!", Escape
// closes. Otherwise each line of standard input is one press and the end of input closes. Boxes
// are single lines (see the POSIX platform). Exit codes are the window's: 0 after a close, the
// error number after an error stop. The only arguments are --help (-h) and --version.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

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

constexpr char kUsage[] =
    "Usage: quelvane [--help | --version]\n"
    "\n"
    "Patches verdata.mul in the current directory with the records of patchdata.mul there:\n"
    "the target's earlier duplicate keys are dropped, each patch entry replaces the target entry\n"
    "with its key or goes in at its sorted place, and the result replaces verdata.mul in one\n"
    "atomic step. patchdata.mul is only read.\n"
    "\n"
    "At a terminal, Enter presses Go! and Escape closes; each message waits for Enter.\n"
    "Otherwise each line of standard input is one press of Go!, and its end closes.\n"
    "\n"
    "Exit status: 0 after a normal close (messages such as \"Error opening Verdata.mul\"\n"
    "included), 2 for a wrong argument, else the number of the runtime error that ended the\n"
    "run: 100 a short read, 101 a short write, 203 out of memory, 217 anything else, or the\n"
    "system's own error code (28 for a full disk).\n";

// Answers the arguments, if any, as a Linux program does. Returns the exit code when the
// process is to end without showing the window.
int Answer(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quelvane %s\n", QUELVANE_VERSION);
        return 0;
    }
    std::fprintf(stderr, "quelvane: unexpected argument '%s'\nTry 'quelvane --help'.\n", argv[1]);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1)
        return Answer(argc, argv);
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
