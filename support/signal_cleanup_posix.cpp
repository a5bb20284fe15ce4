#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "support/error_stop.h"
#include "support/signal_cleanup.h"

namespace quelvane {
namespace {

SignalCleanup installed = nullptr;

void OnTerminatingSignal(int number) {
    DirectoryHandle directory = kCurrentDirectory;
    const char* name = nullptr;
    if (PendingTemporaryFile(&directory, &name)) {
        const int at = directory == kCurrentDirectory ? AT_FDCWD : static_cast<int>(directory) - 1;
        (void)::unlinkat(at, name, 0);
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
    handler.sa_handler = OnTerminatingSignal;
    ::sigemptyset(&handler.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        ::sigaddset(&handler.sa_mask, number);  // one cleanup at a time
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction previous {};
        ::sigaction(number, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN)  // a signal ignored by the caller (nohup) stays so
            ::sigaction(number, &handler, nullptr);
    }
}

}  // namespace quelvane
