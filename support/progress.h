// How far the write of a run has come, for whoever wants to show it. The engine reports; a
// front end that shows progress installs a reporter. Nothing here knows how it is shown.
#pragma once

#include <cstdint>

namespace quelvane {

// Told `written` of `total` bytes of the new file as the write goes on, with `written` =
// kProgressFlushing once all is written and the file is being flushed to disk, and once more
// with `written` = kProgressEnded when the write is over, whichever way it ended.
using ProgressReporter = void (*)(std::int64_t written, std::int64_t total);
inline constexpr std::int64_t kProgressEnded = -1;
inline constexpr std::int64_t kProgressFlushing = -2;

// Installs the reporter (nullptr: none, the default).
void SetProgressReporter(ProgressReporter reporter);

void ReportProgress(std::int64_t written, std::int64_t total);
void ReportProgressFlushing(std::int64_t total);
void ReportProgressEnded();

}  // namespace quelvane
