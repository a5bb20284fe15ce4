#include "shell/progress_line.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>

#include "support/progress.h"

namespace quelvane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr char kErase[] = "\r\033[K";  // back to the line's start, and clear it
constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

bool writing = false;
volatile std::sig_atomic_t shown = 0;  // read by a signal handler
Clock::time_point started, drawn;

void Draw(std::int64_t written, std::int64_t total) {
    if (written == kProgressEnded) {
        if (shown != 0)
            std::fputs(kErase, stderr);
        std::fflush(stderr);
        writing = false;
        shown = 0;
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!writing) {
        writing = true;
        started = now;
    }
    if (now - started < kQuietFor || (shown != 0 && now - drawn < kRedrawEvery))
        return;
    const long long percent = total > 0 ? written * 100 / total : 100;
    std::fprintf(stderr, "\rverdata.mul: %lld of %lld bytes written (%lld%%)\033[K",
                 static_cast<long long>(written), static_cast<long long>(total), percent);
    std::fflush(stderr);
    shown = 1;
    drawn = now;
}

}  // namespace

void EraseProgressLineInSignal() {
    if (shown != 0)
        (void)!::write(STDERR_FILENO, kErase, sizeof kErase - 1);
}

void ShowProgressAtTerminal() {
    if (::isatty(STDERR_FILENO) != 0)
        SetProgressReporter(Draw);
}

}  // namespace quelvane
