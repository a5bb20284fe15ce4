#pragma once

namespace quelvane {

// The pause between the work and the "Done." box.
inline constexpr unsigned kDonePauseMilliseconds = 2500;

// One press of "Go!": load the target, then the patch, prune, merge and write, pause, "Done.".
// Returns true when the run completed and the window is to close; false when it ended early with
// its box (a file that cannot be opened, damaged input, a refused write) and the window stays for
// another try. Any other failure ends the process in the error stop.
bool RunPatch();

}  // namespace quelvane
