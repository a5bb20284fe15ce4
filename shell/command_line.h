// The native command's arguments, as Linux programs take them, and its words about them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelvane {

struct Arguments {
    bool Help = false, Version = false, Batch = false, DryRun = false;
    bool Verbose = false, Quiet = false;
    std::vector<const char*> Directories;  // -C, in turn: each relative to the one before
    std::string BackupSuffix;              // -b: ".orig" or the suffix given; empty: no backup
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

// Flushes standard output and says why when that or an earlier write to it failed (a full disk,
// a closed descriptor): "quelvane: write error: <reason>", and, when `patched`, that verdata.mul
// was patched all the same. Returns `status`, or 1 on a failure.
int FinishOutput(int status, bool patched = false);

}  // namespace quelvane
