// The rename that puts the new file in place is a run's commit point: before it, a terminating
// signal ends the run with the old file kept; after it, the file is the new one, and a signal
// that comes then must not end the process as though nothing had happened.
#pragma once

namespace quelvane {

// Holds the terminating signals (every one a handler may catch) from just before the rename.
void HoldSignalsForCommit();
// Lets them go again. With `committed` (the rename took place) a signal held meanwhile, or any
// that comes later, no longer ends the process: it is noted, and the run ends at once the way a
// completed run ends. Without, a held signal ends the run as before.
void ReleaseSignalsAfterCommit(bool committed);
// Whether a terminating signal came after the commit: whatever still waits (the pause, the
// "Done." box's Enter) is cut short, and the process ends as a completed run does.
bool InterruptedAfterCommit();

}  // namespace quelvane
