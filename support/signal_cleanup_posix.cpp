#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>

#include "support/commit_point.h"
#include "support/error_stop.h"
#include "support/signal_cleanup.h"

namespace quelvane {
namespace {

SignalCleanup installed = nullptr;
// Every signal whose default action ends the process and that a handler may catch; the
// real-time ones (which end it too) are added where the set is made. SIGXFSZ is not here: it is
// ignored, so that a write past the file size limit fails with EFBIG and ends in the error stop,
// cleaned up and told like any failed write.
constexpr int kTerminating[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT,  SIGUSR1, SIGUSR2,
                                SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,  SIGPIPE, SIGPOLL,
                                SIGPWR,  SIGSYS,    SIGTRAP, SIGSTKFLT};

// Set once the rename has put the new file in place; then the signal's number, when one came.
volatile std::sig_atomic_t committed = 0;
volatile std::sig_atomic_t interruptedAfterCommit = 0;
sigset_t beforeHold{};

sigset_t TerminatingSignals() {
    sigset_t set{};
    ::sigemptyset(&set);
    for (const int number : kTerminating)
        ::sigaddset(&set, number);
    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number)
        ::sigaddset(&set, number);
    return set;
}

void OnTerminatingSignal(int number) {
    if (committed != 0) {
        // The file is the new one already: the run is complete and ends as such, at once.
        interruptedAfterCommit = number;
        return;
    }
    DirectoryHandle directory = kCurrentDirectory;
    const char* name = nullptr;
    for (std::size_t index = 0; index < kTemporaryKinds; ++index) {
        if (PendingTemporaryFile(index, &directory, &name)) {
            const int at =
                directory == kCurrentDirectory ? AT_FDCWD : static_cast<int>(directory) - 1;
            (void)::unlinkat(at, name, 0);
        }
    }
    if (installed != nullptr)
        installed();
    // The same signal again, now with its default action, so that the parent sees it.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(number, &fallback, nullptr);
    sigset_t only{};
    ::sigemptyset(&only);
    ::sigaddset(&only, number);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(number);
    ::_exit(128 + number);  // not reached for these signals
}

}  // namespace

void CleanUpOnTerminatingSignals(SignalCleanup cleanup) {
    installed = cleanup;
    struct sigaction handler {};
    handler.sa_handler = OnTerminatingSignal;  // no SA_RESTART: a wait after the commit ends
    handler.sa_mask = TerminatingSignals();    // one cleanup at a time
    for (int number = 1; number < NSIG; ++number) {
        if (::sigismember(&handler.sa_mask, number) != 1)
            continue;
        struct sigaction previous {};
        ::sigaction(number, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN)  // a signal ignored by the caller (nohup) stays so
            ::sigaction(number, &handler, nullptr);
    }
    struct sigaction ignored {};
    ignored.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignored, nullptr);
}

void HoldSignalsForCommit() {
    const sigset_t held = TerminatingSignals();
    ::pthread_sigmask(SIG_BLOCK, &held, &beforeHold);
}

void ReleaseSignalsAfterCommit(bool replaced) {
    if (replaced)
        committed = 1;
    ::pthread_sigmask(SIG_SETMASK, &beforeHold, nullptr);  // a held signal arrives here
}

bool InterruptedAfterCommit() {
    return interruptedAfterCommit != 0;
}

}  // namespace quelvane
