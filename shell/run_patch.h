#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/backup_name.h"
#include "support/platform.h"

namespace quelvane {

// RunOptions::WaitMilliseconds for a wait without end.
inline constexpr std::int64_t kWaitForever = -1;

// The pause between the work and the "Done." box.
inline constexpr unsigned kDonePauseMilliseconds = 2500;

// What a run did, or in a dry run would do, in the engine's own counts.
struct RunSummary {
    std::size_t TargetEntries = 0;      // in the target's index, all of them
    std::size_t TargetLeftOut = 0;      // the target's entries with a FileId above 33
    std::size_t DuplicatesDropped = 0;  // earlier entries of a key the target holds again
    std::size_t PatchEntries = 0;       // in the patch's index, all of them
    std::size_t PatchLeftOut = 0;
    std::size_t Replaced = 0;    // patch entries that took the place of a target entry
    std::size_t Added = 0;       // patch entries that went in anew
    std::size_t Superseded = 0;  // later patch entries of a key an earlier one took
    std::size_t ResultEntries = 0;
    std::int64_t ResultBytes = 0;
    bool Counted = false;  // the counts above are complete (the result may still be refused)
    // The target holds the result already, byte for byte: nothing was (or would be) written.
    bool AlreadyHeld = false;
    // A dry run: why the target could not be written, or 0; the directory that refuses new
    // files, when it is that.
    SystemError NotWritable = 0;
    std::string RefusingDirectory;
    // A dry run: the backup's name, when it is its copy that would not fit.
    std::string BackupNotKept;
    // A real run whose rename took place, but a step after it failed (Done: none did).
    ReplaceStage AfterReplace = ReplaceStage::Done;
    SystemError AfterReplaceError = 0;
};

struct RunOptions {
    // Everything up to the write (load, prune, merge, layout, limits), nothing written: the
    // target is opened for reading only, and whether it could be written is asked, not tried.
    bool DryRun = false;
    // The window's ending: the pause, then "Done.".
    bool PauseAndSayDone = true;
    // Filled as far as the run came (when not null): see RunSummary::Counted.
    RunSummary* Summary = nullptr;
    // Keep the old target beside it, under the name this choice gives (see backup_name.h).
    BackupChoice Backup;
    // How long to wait for another run's lock before refusing, in milliseconds; kWaitForever:
    // as long as it takes. Waiting is said once (Notice::WaitingForRun).
    std::int64_t WaitMilliseconds = 0;
    // Called once the result is laid out, when it differs from the target, before anything is
    // written (when not null): false
    // ends the run there, refused, the target as it was. The command writes out its list of
    // changes here, so that a reader that stops early stops the run before the commit.
    bool (*BeforeWrite)() = nullptr;
};

// One press of "Go!": load the target, then the patch, prune, merge and write, pause, "Done.".
// Returns true when the run completed and the window is to close; false when it ended early with
// its box (a file that cannot be opened, damaged input, a refused write) and the window stays for
// another try. Any other failure ends the process in the error stop. A run whose file was
// replaced but not confirmed on disk ends with a warning box in place of "Done."; one that a
// terminating signal reached after the replace ends at once, without the rest of the pause.
bool RunPatch(const RunOptions& options = {});

// What the lock that refused the last run locks (see Platform::LockedPath), for its message.
const std::string& RefusingLockPath();

}  // namespace quelvane
