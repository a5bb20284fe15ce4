#include "shell/stand_in.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "shell/batch_run.h"
#include "shell/run_patch.h"
#include "support/boxes.h"
#include "support/commit_point.h"

namespace quelvane {
namespace {

enum class Press { Go, Close };

constexpr char kEscape = 27;
constexpr char kEndOfInput = 4;  // Ctrl-D, which the key mode hands over as it is
constexpr char kPrompt[] = "Quelvane [ Go! ]  Enter: Go!   Esc: close\n";
constexpr char kEnterHint[] = "  [Enter: OK]";

// The terminal that standard input is, open for writing, so that the prompt and the boxes show
// there whatever standard output and standard error are; -1 when input is no terminal.
int terminal = -1;
// The terminal's modes as they were, and the ones the stand-in set (the key mode while a key is
// awaited, no echo during a run); read by the signal handlers, which put the terminal back
// before the process stops or ends, and set the stand-in's modes again once it is continued.
termios savedModes{}, changedModes{};
volatile std::sig_atomic_t modesChanged = 0;
volatile std::sig_atomic_t awaitingKey = 0;  // the prompt is up: draw it again after a stop

void SetModes(const termios& modes) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &modes);
}

void ToTerminal(const char* text, std::size_t size) {
    if (terminal >= 0)
        (void)!::write(terminal, text, size);
}

// Turns `off` off in the terminal's modes until RestoreModes: ICANON and ECHO for a key, ECHO for
// a run.
void ChangeModes(tcflag_t off) {
    if (::tcgetattr(STDIN_FILENO, &savedModes) != 0)
        return;
    changedModes = savedModes;
    changedModes.c_lflag &= ~off;
    changedModes.c_cc[VMIN] = 1;
    changedModes.c_cc[VTIME] = 0;
    modesChanged = 1;
    SetModes(changedModes);
}
void RestoreModes() {
    if (modesChanged != 0)
        SetModes(savedModes);
    modesChanged = 0;
}

// Ctrl-Z: the terminal as it was while stopped.
void OnStop(int) {
    const int saved = errno;
    if (modesChanged != 0)
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
    errno = saved;
}
// Continued, after Ctrl-Z or SIGSTOP: the shell has had the terminal meanwhile, so the
// stand-in's modes are set again and a prompt that scrolled away is drawn again.
void OnContinue(int) {
    const int saved = errno;
    if (modesChanged != 0)
        SetModes(changedModes);
    if (awaitingKey != 0)
        ToTerminal(kPrompt, sizeof kPrompt - 1);
    errno = saved;
}

void KeepTheTerminalAcrossStops() {
    struct sigaction handler {};
    handler.sa_flags = SA_RESTART;  // the key's read goes on after a stop
    handler.sa_handler = OnStop;
    ::sigaction(SIGTSTP, &handler, nullptr);
    handler.sa_handler = OnContinue;
    ::sigaction(SIGCONT, &handler, nullptr);
}

// One key at the terminal, read with echo and line editing off only while waiting, so that an
// error stop leaves the terminal sane.
int ReadKey() {
    ChangeModes(ICANON | ECHO);
    awaitingKey = 1;
    unsigned char key = 0;
    int result = ::read(STDIN_FILENO, &key, 1) == 1 ? key : EOF;
    awaitingKey = 0;
    if (result == kEscape) {
        // An arrow or function key sends Escape followed by more bytes at once: not a close.
        pollfd more{STDIN_FILENO, POLLIN, 0};
        if (::poll(&more, 1, 30) > 0) {
            unsigned char rest[16];
            (void)!::read(STDIN_FILENO, rest, sizeof rest);
            result = 0;
        }
    }
    RestoreModes();
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
    for (bool partial = false;; partial = true) {
        const int c = std::getchar();
        if (c == EOF)  // a last line without its newline is a line all the same
            return partial ? Press::Go : Press::Close;
        if (c == '\n')
            return Press::Go;
    }
}

// A box as one line "<caption>: <text>": error and warning boxes, and the error stop's, on
// standard error, the others on standard output; the error stop's adds, on the next line, what
// the stop is about, and a warning its reason. At a terminal the line shows there too when its
// stream goes elsewhere, and the box waits for Enter, which it says; keys typed before it are
// not its answer. A signal after the commit cuts the wait short.
void ShowBox(std::string_view text, std::string_view caption, std::uint32_t style,
             SystemError reason) {
    const bool stop = caption == kStopCaption;
    std::FILE* stream = stop || style == kBoxError || style == kBoxWarning ? stderr : stdout;
    std::string line = std::string(caption) + ": " + std::string(text);
    // Appended piece by piece: GCC 12's -Wrestrict misreads `"..." + std::string&&` at -O2.
    if (stop)
        line.append("\n").append(StopExplanation(reason));
    else if (style == kBoxWarning && reason != 0)
        line.append(": ").append(ReasonText(reason));
    const bool waits = terminal >= 0 && !InterruptedAfterCommit();
    const bool streamShows = ::isatty(::fileno(stream)) != 0;
    const std::string shown = line + (waits ? kEnterHint : "") + "\n";
    // Keys typed before the box shows are not its answer; one typed once it shows is, however
    // soon: so the input is discarded before the box is drawn, never after.
    if (waits)
        ::tcflush(STDIN_FILENO, TCIFLUSH);
    const std::string written = streamShows ? shown : line + "\n";
    if (stream == stdout) {
        PutOut(written);
        (void)FlushOutput();  // a failure stays noted, for the status at the end
    } else {
        std::fputs(written.c_str(), stream);
        std::fflush(stream);
    }
    if (!streamShows && terminal != ::fileno(stream))
        ToTerminal(shown.data(), shown.size());
    if (waits) {
        char key = 0;
        while (::read(STDIN_FILENO, &key, 1) == 1 && key != '\n' && key != '\r') {
        }
    }
    if (stop)
        RestoreModes();  // the process ends next: the terminal as it was
}

}  // namespace

void RestoreTerminalInSignal() {
    if (modesChanged != 0)
        SetModes(savedModes);
}

int RunStandIn(bool* patched) {
    const bool atTerminal = ::isatty(STDIN_FILENO) != 0;
    if (atTerminal) {
        // Its own name, else the controlling terminal, else standard error as before.
        const char* name = ::ttyname(STDIN_FILENO);
        terminal = name != nullptr ? ::open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC) : -1;
        if (terminal < 0)
            terminal = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (terminal < 0)
            terminal = STDERR_FILENO;
        KeepTheTerminalAcrossStops();
    }
    SetBoxSink(ShowBox);
    bool pressed = false;
    *patched = false;
    for (;;) {
        // The window, again after each box that leaves it open.
        if (atTerminal)
            ToTerminal(kPrompt, sizeof kPrompt - 1);
        if ((atTerminal ? WaitAtTerminal() : WaitForLine()) == Press::Close)
            break;
        pressed = true;
        if (atTerminal)
            ChangeModes(ECHO);  // keys typed during the run are not shown; its boxes discard them
        const bool done = RunPatch();
        RestoreModes();
        if (done) {
            *patched = true;
            break;  // "Done." closes the window
        }
    }
    if (!pressed && !atTerminal)
        std::fputs("quelvane: closed without a run; use --batch to patch once\n", stderr);
    return 0;
}

}  // namespace quelvane
