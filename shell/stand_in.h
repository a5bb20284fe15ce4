// The native build's stand-in for the window, in a terminal.
#pragma once

namespace quelvane {

// The window as text, until a run completes or it is closed. At a terminal it shows
// "Quelvane [ Go! ]" and reads single keys: Enter presses "Go!", Escape or Ctrl-D closes; keys
// typed during a run are neither echoed nor kept; the prompt and every box show on the terminal
// that standard input is, even when standard output or standard error go elsewhere, and each box
// waits for Enter. Otherwise each line of standard input is one press and the end of input
// closes (saying so when no press came). Returns 0, as the window does after a close; `patched`
// tells whether a run replaced the target.
int RunStandIn(bool* patched);

// Undoes what the stand-in changed of the terminal (its modes), from inside a signal handler.
void RestoreTerminalInSignal();

}  // namespace quelvane
