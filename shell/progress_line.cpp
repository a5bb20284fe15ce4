#include "shell/progress_line.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "support/progress.h"

namespace quelvane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

bool writing = false;
bool shown = false;
Clock::time_point started, drawn;

void Draw(std::int64_t written, std::int64_t total) {
    if (written == kProgressEnded) {
        if (shown)
            std::fputs("\r\033[K", stderr);  // back to the line's start, and clear it
        std::fflush(stderr);
        writing = shown = false;
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!writing) {
        writing = true;
        started = now;
    }
    if (now - started < kQuietFor || (shown && now - drawn < kRedrawEvery))
        return;
    const long long percent = total > 0 ? written * 100 / total : 100;
    std::fprintf(stderr, "\rverdata.mul: %lld of %lld bytes written (%lld%%)\033[K",
                 static_cast<long long>(written), static_cast<long long>(total), percent);
    std::fflush(stderr);
    shown = true;
    drawn = now;
}

}  // namespace

void ShowProgressAtTerminal() {
    if (::isatty(STDERR_FILENO) != 0)
        SetProgressReporter(Draw);
}

}  // namespace quelvane
