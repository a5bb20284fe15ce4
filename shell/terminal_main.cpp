// The native build's stand-in for the window, in a terminal.
//
// At a terminal it shows "Quelvane [ Go! ]" and reads single keys: Enter presses "Go!", Escape
// closes. Otherwise each line of standard input is one press and the end of input closes. Boxes
// are single lines (see the POSIX platform). Exit codes are the window's: 0 after a close, the
// error number after an error stop. For scripts it also runs once without the window (--batch,
// --dry-run), in a directory of their choosing (-C).
#include <getopt.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "shell/batch_run.h"
#include "shell/progress_line.h"
#include "shell/run_patch.h"
#include "support/error_stop.h"
#include "support/platform.h"
#include "support/signal_cleanup.h"

namespace {

enum class Press { Go, Close };

constexpr char kEscape = 27;

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
    struct sigaction stop {
    }, previous{};
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
    "Usage: quelvane [-C DIR] [--batch | -n]\n"
    "       quelvane --help | --version\n"
    "\n"
    "Patches verdata.mul with the records of patchdata.mul, both in the current directory:\n"
    "the target's earlier duplicate keys are dropped, each patch entry replaces the target entry\n"
    "with its key or goes in at its sorted place, and the result replaces verdata.mul in one\n"
    "atomic step. patchdata.mul is only read.\n"
    "\n"
    "Without --batch or -n it shows the window as text. At a terminal, Enter presses Go! and\n"
    "Escape closes; each message waits for Enter. Otherwise each line of standard input is one\n"
    "press of Go!, and its end closes.\n"
    "\n"
    "  -C, --directory=DIR  work in DIR instead of the current directory\n"
    "      --batch          patch once, for scripts: no window, no keys read, no pause; prints\n"
    "                       one summary line of what was done on standard output\n"
    "  -n, --dry-run        load, prune, merge, lay out and check the limits as --batch does,\n"
    "                       and print what would be done; nothing is written, the target is\n"
    "                       only read\n"
    "  -h, --help           this text\n"
    "      --version        the version\n"
    "\n"
    "While a run writes for more than a second and standard error is a terminal, a line there\n"
    "shows the bytes written.\n"
    "\n"
    "Exit status:\n"
    "  0    the window closed (messages such as \"Error opening Verdata.mul\" included);\n"
    "       --batch or -n: done\n"
    "  1    --batch or -n: refused (a file that cannot be opened or is not a regular file,\n"
    "       another run working on the same file, damaged input, a result over the format's\n"
    "       limits, a write that cannot be made or put in place; a dry run that finds the\n"
    "       target could not be written), or DIR cannot be entered\n"
    "  2    wrong usage\n"
    "  else the number of the runtime error that ended the run: 100 a short read, 101 a short\n"
    "       write, 203 out of memory, 217 anything else, or the system's own error code (28\n"
    "       for a full disk); verdata.mul is then as it was\n"
    "  128+N  ended by signal N (INT, TERM, HUP, QUIT): verdata.mul as it was, no temporary\n"
    "       file left\n";

struct Arguments {
    bool Help = false, Version = false, Batch = false, DryRun = false;
    const char* Directory = nullptr;
};

// Parses the arguments as Linux programs do (options in any order, "--" ends them). Returns
// -1 when they are right, else the exit code after the message for wrong usage.
int Parse(int argc, char** argv, Arguments& arguments) {
    enum { kBatch = 256, kVersion };
    static const option kOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {"directory", required_argument, nullptr, 'C'},
        {"batch", no_argument, nullptr, kBatch},
        {"dry-run", no_argument, nullptr, 'n'},
        {nullptr, 0, nullptr, 0},
    };
    ::opterr = 0;  // the messages below name the program as the user typed it
    const auto wrong = [](const std::string& message) {
        std::fprintf(stderr, "quelvane: %s\nTry 'quelvane --help'.\n", message.c_str());
        return 2;
    };
    for (int code; (code = ::getopt_long(argc, argv, ":hC:n", kOptions, nullptr)) != -1;) {
        switch (code) {
            case 'h':
                arguments.Help = true;
                break;
            case kVersion:
                arguments.Version = true;
                break;
            case 'C':
                arguments.Directory = ::optarg;
                break;
            case kBatch:
                arguments.Batch = true;
                break;
            case 'n':
                arguments.DryRun = true;
                break;
            case ':':
                return wrong("option '" + std::string(argv[::optind - 1]) + "' needs a directory");
            default: {
                const std::string given = argv[::optind - 1];
                if (given.rfind("--", 0) != 0)
                    return wrong("unknown option '-" + std::string(1, static_cast<char>(::optopt)) +
                                 "'");
                const std::string name = given.substr(0, given.find('='));
                for (const option& known : kOptions) {
                    if (known.name != nullptr && name == std::string("--") + known.name)
                        return wrong("option '" + name + "' takes no value");
                }
                return wrong("unknown option '" + name + "'");
            }
        }
    }
    if (::optind < argc)
        return wrong("unexpected argument '" + std::string(argv[::optind]) + "'");
    return -1;
}

// The window as text: presses until a run completes or the window is closed.
int RunStandIn() {
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    if (terminal) {
        KeepTheTerminalAcrossStops();
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

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (const int wrong = Parse(argc, argv, arguments); wrong >= 0)
        return wrong;
    if (arguments.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (arguments.Version) {
        std::printf("quelvane %s\n", QUELVANE_VERSION);
        return 0;
    }
    if (arguments.Directory != nullptr && ::chdir(arguments.Directory) != 0) {
        std::fprintf(stderr, "quelvane: cannot enter '%s': %s\n", arguments.Directory,
                     std::strerror(errno));
        return 1;
    }
    quelvane::InstallErrorStopHandlers();
    quelvane::ShowProgressAtTerminal();
    quelvane::CleanUpOnTerminatingSignals(CleanUpInSignal);
    if (arguments.Batch || arguments.DryRun)
        return quelvane::RunBatch(arguments.DryRun);
    return RunStandIn();
}
