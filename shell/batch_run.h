// One run for scripts (the native command's --batch and --dry-run): no window, no keys read, no
// pause; a summary line on success, the refusal and its reason on failure.
#pragma once

#include <string>

#include "shell/run_patch.h"

namespace quelvane {

// Runs once in the current directory. On success prints the summary on standard output and
// returns 0; a refusal prints "quelvane: <the box's text>[: <reason>]" on standard error and
// returns 1, as does a dry run that finds the target could not be written. The error stop ends
// the process with its number, after its text and reason on standard error.
int RunBatch(bool dryRun);

// "verdata.mul: 5 entries, 1 earlier duplicate dropped; patchdata.mul: 3 entries, 2 replaced,
// 1 added; result 7 entries, 1234 bytes", the same words with "would be" in a dry run.
std::string SummaryText(const RunSummary& summary, bool dryRun);

// The reason behind a box: the system's text for its error, or what the error stop's own
// numbers mean.
std::string ReasonText(SystemError reason);

}  // namespace quelvane
