// One run for scripts (the native command's --batch and --dry-run): no window, no keys read, no
// pause; a summary line on success, the refusal and its reason on failure.
#pragma once

#include <cstdint>
#include <string>

#include "shell/command_line.h"
#include "shell/run_patch.h"
#include "support/boxes.h"

namespace quelvane {

// What the command asks of a run for scripts.
struct BatchChoices {
    bool DryRun = false;
    bool Quiet = false;    // no summary and no word but errors and removals
    bool Verbose = false;  // a line per change on standard output, before the summary
    BackupChoice Backup;
    std::int64_t WaitMilliseconds = 0;
};

// Runs once in the current directory. On success prints the summary on standard output and
// returns 0; a refusal prints "quelvane: <the box's text>[: <reason>]" on standard error and
// returns 1, as does a dry run that finds the target could not be written (its summary, counts
// and all, still on standard output). A replace that took place but whose last step failed
// prints the summary, says so on standard error and returns kExitReplacedUnconfirmed. The error
// stop ends the process with its number, after its text and reason on standard error.
// `patched` tells whether the target was replaced.
int RunBatch(const BatchChoices& choices, bool* patched);

// "verdata.mul: 5 entries, 1 earlier duplicate dropped; patchdata.mul: 3 entries, 2 replaced,
// 1 added; result 7 entries, 1234 bytes", the same words with "would be" in a dry run.
std::string SummaryText(const RunSummary& summary, bool dryRun);

// The reason behind a box: the system's text for its error, or what the error stop's own
// numbers mean.
std::string ReasonText(SystemError reason);

// What the error stop with `number` is about: the file, entry and cause where it knows them,
// else what its number means.
std::string StopExplanation(std::uint32_t number);

// Prints the engine's notices on standard error: "quelvane: removed 'verdata.mul.new', left by
// an earlier run". A quiet run says only what removes a file.
void PrintNotice(Notice notice, std::string_view name);

}  // namespace quelvane
