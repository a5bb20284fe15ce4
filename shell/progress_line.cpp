#include "shell/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
std::size_t shownLength = 0;  // of the line on the terminal now
Clock::time_point started, drawn;
// The latest report, for the watch that draws it once the run has lasted a second: a step that
// reports nothing for a while (the flush to disk, a long in-kernel copy) still shows the line.
std::int64_t lastWritten = 0, lastTotal = 0;
std::mutex drawing;  // the run's reports and the watch draw in turn
std::condition_variable ended;
// The watch's thread; one left waiting when the process ends normally is let go first.
struct Watch {
    std::thread Thread;
    void Join() {
        if (Thread.joinable())
            Thread.join();
    }
    ~Watch() {
        {
            const std::lock_guard<std::mutex> lock(drawing);
            writing = false;
        }
        ended.notify_all();
        Join();
    }
} watch;

constexpr const char* kUnits[] = {"bytes", "KiB", "MiB", "GiB"};

// `bytes` in `unit` with `decimals` places, cut down (never up) when `down`, else rounded.
std::string InUnit(std::int64_t bytes, std::size_t unit, int decimals, bool down) {
    double value = static_cast<double>(bytes);
    for (std::size_t k = 0; k < unit; ++k)
        value /= 1024;
    if (down) {
        const double scale = decimals == 0 ? 1 : decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
        value = static_cast<double>(static_cast<std::int64_t>(value * scale)) / scale;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// "1.4 GiB of 2.0 GiB": both in the total's unit, one decimal from KiB on; what is written is
// cut down and given more places while it would look the same as the total, so that the sizes
// never say "all" while the percentage does not.
std::string Sizes(std::int64_t written, std::int64_t total, bool compact) {
    std::size_t unit = 0;
    for (double value = static_cast<double>(total); value >= 1024 && unit + 1 < std::size(kUnits);
         ++unit) {
        value /= 1024;
    }
    int decimals = unit == 0 ? 0 : 1;
    while (written < total && decimals < 3 &&
           InUnit(written, unit, decimals, true) == InUnit(total, unit, decimals, false)) {
        ++decimals;
    }
    const std::string of = InUnit(written, unit, decimals, true),
                      all = InUnit(total, unit, decimals, false);
    return compact ? of + "/" + all + " " + kUnits[unit]
                   : of + " " + kUnits[unit] + " of " + all + " " + kUnits[unit];
}

// The longest form of the line that fits `room` columns: words go first, the percentage last.
std::string Fitted(std::int64_t written, std::int64_t total, std::size_t room) {
    std::vector<std::string> forms;
    if (written == kProgressFlushing) {
        const std::string all = Sizes(total, total, false);
        forms = {"verdata.mul: " + all + " written, flushing to disk", all + " written, flushing",
                 "flushing"};
    } else {
        // Put together piece by piece: GCC 12's -Wrestrict misreads `"(" + std::string&&` at -O2.
        std::string percent = "(";
        percent.append(std::to_string(total > 0 ? written * 100 / total : 100)).append("%)");
        forms = {"verdata.mul: " + Sizes(written, total, false) + " written " + percent,
                 Sizes(written, total, false) + " written " + percent,
                 Sizes(written, total, true) + " " + percent, percent};
    }
    for (const std::string& form : forms) {
        if (form.size() <= room)
            return form;
    }
    return forms.back().substr(0, room);
}

// Draws the line for the latest report. Called with `drawing` held.
void DrawLine(std::int64_t written, std::int64_t total, Clock::time_point now) {
    std::string erase = "\r\033[K";
    if (widthChanged != 0) {
        widthChanged = 0;
        winsize size{};
        width =
            ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
        // A terminal that reflows its lines has wrapped a line wider than it is now: the rows
        // above the cursor that it took are cleared too, so that no fragment stays behind.
        for (std::size_t rows = shown != 0 ? (shownLength + width - 1) / width : 1; rows > 1;
             --rows)
            erase += "\033[A\033[K";
    }
    const std::string line = Fitted(written, total, width - 1);  // never wrapped: erased whole
    // Marked shown before it is written: a signal that comes as the line appears erases it (an
    // erase of a line not yet there changes nothing), never leaves it behind.
    shown = 1;
    shownLength = line.size();
    std::fprintf(stderr, "%s%s", erase.c_str(), line.c_str());
    std::fflush(stderr);
    drawn = now;
}

// Waits for the run's first second to pass, then draws the line once if no report has yet.
void WatchFirstSecond() {
    std::unique_lock<std::mutex> lock(drawing);
    if (!ended.wait_until(lock, started + kQuietFor, [] { return !writing; }) && shown == 0)
        DrawLine(lastWritten, lastTotal, Clock::now());
}

void Draw(std::int64_t written, std::int64_t total) {
    std::unique_lock<std::mutex> lock(drawing);
    if (written == kProgressEnded) {
        if (shown != 0)
            std::fputs(kErase, stderr);
        std::fflush(stderr);
        writing = false;
        shown = 0;
        lock.unlock();
        ended.notify_all();
        watch.Join();
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!writing) {
        writing = true;
        started = now;
        watch.Join();
        watch.Thread = std::thread(WatchFirstSecond);
    }
    lastWritten = written;
    lastTotal = total;
    const bool flushing = written == kProgressFlushing;
    if (now - started < kQuietFor || (shown != 0 && !flushing && now - drawn < kRedrawEvery))
        return;
    DrawLine(written, total, now);
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
