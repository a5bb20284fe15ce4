// The native command: the window as text (see stand_in.h), or one run for scripts (--batch,
// --dry-run), in a directory of their choosing (-C). Exit codes are the window's: 0 after a
// close, the error number after an error stop; --batch and --dry-run have their own (--help).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shell/batch_run.h"
#include "shell/command_line.h"
#include "shell/progress_line.h"
#include "shell/stand_in.h"
#include "support/boxes.h"
#include "support/error_stop.h"
#include "support/signal_cleanup.h"

namespace {

// What a terminating signal undoes of the command's own: the progress line, the terminal's modes.
void CleanUpInSignal() {
    quelvane::EraseProgressLineInSignal();
    quelvane::RestoreTerminalInSignal();
}

// A closed standard descriptor is opened on /dev/null before anything else is: otherwise the
// next file opened (the target, its directory, the lock) would take its number, and a message
// meant for standard error would be written into it.
void OpenStandardDescriptors() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != descriptor) {
            // The lowest free number was this one: anything else means no /dev/null to be had,
            // and no run is safe without it.
            ::_exit(1);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    OpenStandardDescriptors();
    quelvane::Arguments arguments;
    if (const int wrong = quelvane::ParseArguments(argc, argv, arguments); wrong >= 0)
        return wrong;
    if (arguments.Help) {
        quelvane::PutOut(quelvane::kUsage);
        return quelvane::FinishOutput(0);
    }
    if (arguments.Version) {
        quelvane::PutOut("quelvane " QUELVANE_VERSION "\n");
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
    if (!arguments.Quiet)
        quelvane::ShowProgressAtTerminal();
    quelvane::CleanUpOnTerminatingSignals(CleanUpInSignal);
    quelvane::SetNoticeSink(quelvane::PrintNotice);
    bool patched = false;
    const int status =
        arguments.Batch || arguments.DryRun
            ? quelvane::RunBatch({arguments.DryRun, arguments.Quiet, arguments.Verbose,
                                  arguments.Backup, arguments.WaitMilliseconds},
                                 &patched)
            : quelvane::RunStandIn(&patched);
    return quelvane::FinishOutput(status, patched);
}
