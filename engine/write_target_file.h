#pragma once

#include <string>
#include <string_view>

#include "engine/entry_table.h"
#include "engine/merge_patch.h"

namespace quelvane {

inline constexpr std::string_view kTargetFileName = "verdata.mul";
inline constexpr std::string_view kPatchFileName = "patchdata.mul";
// The new content is written to the target's name with this ending, beside the target, and then
// replaces it in one step: "verdata.mul.new".
inline constexpr std::string_view kTemporarySuffix = ".new";
inline constexpr std::string_view kWriteErrorText = "Error writing Verdata.mul";

// Merges the patch into the target, lays out the offsets and replaces the target's file at
// `place` (where "verdata.mul" finally led when it was loaded) by the result: written to a
// temporary file beside it, flushed to disk, then put in its place in one atomic step. Both
// tables are released (and their files closed) on every path that returns.
//
// The new file keeps what the system keeps on the target (see Platform::KeepAttributes).
//
// Returns false, after one box that begins "Error writing Verdata.mul", when the result exceeds
// the format's limits, the temporary file cannot be created, the name at `place` no longer stands
// for the file that was loaded, or the replace is refused; the target is then unchanged and no
// temporary file is left. Any other failure ends in the error stop, which removes the temporary
// file first. Once the rename has happened nothing reports the target as unchanged: the
// terminating signals are held across it (see commit_point.h), and a failure after it is told
// to the caller as such. A stale temporary file that the write removes is named (ShowNotice).
bool WriteTargetFile(EntryTable& target, EntryTable& patch, const FinalPlace& place);

// The two halves of WriteTargetFile, for a run that stops before the write (a dry run):
// LayOutTarget merges, checks the limits and lays out the offsets, telling (where not null) the
// merge's counts and the result's entries and bytes, a result over the limits included; it
// returns false after the limit's box, with both tables released. WriteLaidOutTarget does the
// rest. The boxes carry the system's reason where there is one.
bool LayOutTarget(EntryTable& target, EntryTable& patch, MergeCounts* counts,
                  std::size_t* resultEntries = nullptr, std::int64_t* resultBytes = nullptr);
// With a `backup` name (beside the target, see backup_name.h), the old file is kept under it (see
// keep_backup.h); a name that cannot take it refuses the run before anything is made, and a
// backup that cannot be made refuses it before the rename (BackupRefusalText).
// `afterReplace`, when not null, is told how far the replace came: a stage other than Done means
// the target was replaced (the result is true) but a step after the rename failed, with the
// system's reason in `afterReplaceError`. No box is shown for that: the caller reports it.
bool WriteLaidOutTarget(EntryTable& target, EntryTable& patch, const FinalPlace& place,
                        std::string_view backup = {}, ReplaceStage* afterReplace = nullptr,
                        SystemError* afterReplaceError = nullptr);

// "cannot keep the old verdata.mul as 'verdata.mul.orig'": a backup that cannot be made.
std::string BackupRefusalText(std::string_view backup);

// "verdata.mul was replaced, but flushing the directory failed": what a replace that took place
// could not confirm.
std::string UnconfirmedText(ReplaceStage stage);

}  // namespace quelvane
