// The native build's stand-in for the window, in a terminal.
//
// At a terminal it shows "Quelvane [ Go! ]" and reads single keys: Enter presses "Go!", Escape
// or Ctrl-D closes. Otherwise each line of standard input is one press and the end of input
// closes. Boxes are single lines (see the POSIX platform). Exit codes are the window's: 0 after a
// close, the error number after an error stop. For scripts it also runs once without the window
// (--batch, --dry-run), in a directory of their choosing (-C).
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "shell/batch_run.h"
#include "shell/command_line.h"
#include "shell/progress_line.h"
#include "shell/run_patch.h"
#include "support/error_stop.h"
#include "support/platform.h"
#include "support/signal_cleanup.h"

namespace {

enum class Press { Go, Close };

constexpr char kEscape = 27;
constexpr char kEndOfInput = 4;  // Ctrl-D, which the key mode hands over as it is

// The terminal's modes as they were, and the key mode, while a key is awaited; read by the signal
// handlers, which put the terminal back before the process stops or ends.
termios savedModes{}, keyModes{};
volatile std::sig_atomic_t inKeyMode = 0;

void SetModes(const termios& modes) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &modes);
}

// Ctrl-Z: the terminal as it was while stopped, the key mode again once continued.
void OnStop(int) {
    const int saved = errno;
    if (inKeyMode != 0)
        SetModes(savedModes);
    struct sigaction stop {};
    struct sigaction previous {};
    stop.sa_handler = SIG_DFL;
    ::sigaction(SIGTSTP, &stop, &previous);
    sigset_t only{};
    ::sigemptyset(&only);
    ::sigaddset(&only, SIGTSTP);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(SIGTSTP);  // stops here until continued
    ::sigprocmask(SIG_BLOCK, &only, nullptr);
    ::sigaction(SIGTSTP, &previous, nullptr);
    if (inKeyMode != 0)
        SetModes(keyModes);
    errno = saved;
}
// Continued after a stop that did not come through OnStop (SIGSTOP): the shell may have reset
// the terminal meanwhile.
void OnContinue(int) {
    const int saved = errno;
    if (inKeyMode != 0)
        SetModes(keyModes);
    errno = saved;
}

// What a terminating signal undoes of the stand-in's own: the progress line, the key mode.
void CleanUpInSignal() {
    quelvane::EraseProgressLineInSignal();
    if (inKeyMode != 0)
        SetModes(savedModes);
}

void KeepTheTerminalAcrossStops() {
    struct sigaction handler {};
    handler.sa_flags = SA_RESTART;  // the key's read goes on after a stop
    handler.sa_handler = OnStop;
    ::sigaction(SIGTSTP, &handler, nullptr);
    handler.sa_handler = OnContinue;
    ::sigaction(SIGCONT, &handler, nullptr);
}

// One key at the terminal, read with echo and line editing off only while waiting, so that a box
// shown during the run reads its Enter as usual and an error stop leaves the terminal sane.
int ReadKey() {
    if (::tcgetattr(STDIN_FILENO, &savedModes) != 0)
        return EOF;
    keyModes = savedModes;
    keyModes.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    keyModes.c_cc[VMIN] = 1;
    keyModes.c_cc[VTIME] = 0;
    inKeyMode = 1;
    SetModes(keyModes);
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
    SetModes(savedModes);
    inKeyMode = 0;
    return result;
}

Press WaitAtTerminal() {
    for (;;) {
        const int key = ReadKey();
        if (key == EOF || key == kEscape || key == kEndOfInput)
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

// The window as text: presses until a run completes or the window is closed.
int RunStandIn() {
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    if (terminal) {
        KeepTheTerminalAcrossStops();
    }
    for (;;) {
        // The window, on the terminal even when standard output goes elsewhere (as prompts do),
        // and again after each box that leaves it open.
        if (terminal)
            std::fputs("Quelvane [ Go! ]  Enter: Go!   Esc: close\n", stderr);
        const Press press = terminal ? WaitAtTerminal() : WaitForLine();
        if (press == Press::Close)
            break;
        if (quelvane::RunPatch())
            break;  // "Done." closes the window
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    quelvane::Arguments arguments;
    if (const int wrong = quelvane::ParseArguments(argc, argv, arguments); wrong >= 0)
        return wrong;
    if (arguments.Help) {
        std::fputs(quelvane::kUsage, stdout);
        return quelvane::FinishOutput(0);
    }
    if (arguments.Version) {
        std::printf("quelvane %s\n", QUELVANE_VERSION);
        return quelvane::FinishOutput(0);
    }
    for (const char* directory : arguments.Directories) {
        if (::chdir(directory) != 0) {
            std::fprintf(stderr, "quelvane: cannot enter %s: %s\n",
                         quelvane::Quoted(directory).c_str(), std::strerror(errno));
            return 1;
        }
    }
    quelvane::InstallErrorStopHandlers();
    quelvane::ShowProgressAtTerminal();
    quelvane::CleanUpOnTerminatingSignals(CleanUpInSignal);
    if (arguments.Batch || arguments.DryRun)
        return quelvane::FinishOutput(quelvane::RunBatch(arguments.DryRun));
    return quelvane::FinishOutput(RunStandIn());
}
