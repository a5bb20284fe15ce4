#include "shell/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "support/progress.h"

namespace quelvane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr char kErase[] = "\r\033[K";  // back to the line's start, and clear it

bool writing = false;
volatile std::sig_atomic_t shown = 0;         // read by a signal handler
volatile std::sig_atomic_t widthChanged = 1;  // the terminal was resized: read its width again
std::size_t width = 80;
Clock::time_point started, drawn;

// "1.4 GiB": binary units, one decimal from KiB on.
std::string Size(std::int64_t bytes) {
    static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    for (; value >= 1024 && unit + 1 < std::size(kUnits); ++unit)
        value /= 1024;
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}

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
    const bool flushing = written == kProgressFlushing;
    if (now - started < kQuietFor || (shown != 0 && !flushing && now - drawn < kRedrawEvery))
        return;
    if (widthChanged != 0) {
        widthChanged = 0;
        winsize size{};
        width =
            ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
    }
    std::string line = "verdata.mul: ";
    if (flushing) {
        line += Size(total) + " written, flushing to disk";
    } else {
        const long long percent = total > 0 ? written * 100 / total : 100;
        line +=
            Size(written) + " of " + Size(total) + " written (" + std::to_string(percent) + "%)";
    }
    line.resize(std::min(line.size(), width - 1));  // never wrapped, so always erased whole
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
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
    if (::isatty(STDERR_FILENO) == 0)
        return;
    SetProgressReporter(Draw);
    struct sigaction resized {};
    resized.sa_handler = [](int) { widthChanged = 1; };
    resized.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &resized, nullptr);
}

}  // namespace quelvane
