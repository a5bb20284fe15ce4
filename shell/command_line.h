// The native command's arguments, as Linux programs take them, and its words about them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/backup_name.h"

namespace quelvane {

// The status of a run whose result is in place but a step after the rename failed: the
// directory's flush, or writing the summary or the list.
inline constexpr int kExitReplacedUnconfirmed = 3;

struct Arguments {
    bool Help = false, Version = false, Batch = false, DryRun = false;
    bool Verbose = false, Quiet = false;
    std::vector<const char*> Directories;  // -C, in turn: each relative to the one before
    BackupChoice Backup;                   // -b, --backup, -S and the environment
    std::int64_t WaitMilliseconds = 0;     // --wait: -1 for as long as it takes
};

// Parses the arguments with getopt_long (options in any order, unambiguous abbreviations of the
// long ones, bundled short ones, "--" ends them), whose own messages name what is wrong. Returns
// -1 when they are right, else 2 after the message and a hint on standard error.
int ParseArguments(int argc, char** argv, Arguments& arguments);

// The text of --help; it fits 80 columns.
extern const char kUsage[];

// `text` in single quotes as a shell would take it back; with anything unprintable in it, in
// $'...' with escapes, so that a name never reaches the terminal raw.
std::string Quoted(std::string_view text);

// Writes `text` on standard output (buffered), keeping the reason of the first write that fails
// for FlushOutput: a write that stdio makes for a full buffer fails inside the call, not at
// the flush, and its errno is gone by then.
void PutOut(std::string_view text);

// Flushes standard output: 0, or the reason it or an earlier write to it failed.
int FlushOutput();

// Flushes standard output and says why when that or an earlier write to it failed (a full disk,
// a closed pipe): "quelvane: write error: <reason>", and, when `patched`, that verdata.mul holds
// the result all the same. Returns `status`; on a failure 1, or kExitReplacedUnconfirmed (3)
// when `patched`, so that 1 always means a file as it was.
int FinishOutput(int status, bool patched = false);

}  // namespace quelvane
