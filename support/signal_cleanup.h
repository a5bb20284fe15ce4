// What a terminating signal does to a run (the native build): it ends the process as it would,
// with the usual status, but never before the run's own leftovers are gone.
#pragma once

namespace quelvane {

// Undoes a front end's own changes (its progress line, its terminal's modes) from inside a
// signal handler: async-signal-safe calls only.
using SignalCleanup = void (*)();

// On SIGINT, SIGTERM, SIGHUP and SIGQUIT: removes the temporary file of a write under way
// (relative to its held directory, never after the replace: the name is gone by then), runs
// `cleanup` when given, then ends the process by the same signal.
void CleanUpOnTerminatingSignals(SignalCleanup cleanup);

}  // namespace quelvane
