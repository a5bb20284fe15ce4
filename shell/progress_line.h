// A progress line on standard error for runs at a terminal (the native build).
#pragma once

namespace quelvane {

// Shows the write's progress on standard error when that is a terminal: once a write has gone
// on for more than a second, one line "verdata.mul: 1.4 GiB of 2.0 GiB written (70%)", then
// "... written, flushing to disk", cut to the terminal's width (read again when it is resized),
// redrawn at most five times a second and erased when the write ends. Does nothing elsewhere.
void ShowProgressAtTerminal();
// Erases the line if it is shown, with async-signal-safe calls only: for a signal that ends the
// process in the middle of a write.
void EraseProgressLineInSignal();

}  // namespace quelvane
