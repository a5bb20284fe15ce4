// What a terminating signal does to a run (the native build): it ends the process as it would,
// with the usual status, but never before the run's own leftovers are gone.
#pragma once

namespace quelvane {

// Undoes a front end's own changes (its progress line, its terminal's modes) from inside a
// signal handler: async-signal-safe calls only.
using SignalCleanup = void (*)();

// On every signal whose default action ends the process and that can be caught (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, the real-time ones, ...): removes the
// temporary file of a write under way (relative to its held directory, never after the replace:
// the name is gone by then), runs `cleanup` when given, then ends the process by the same signal.
// One the caller ignores (nohup) stays ignored. SIGXFSZ is ignored, so that a write past the
// file size limit fails (EFBIG) and ends in the error stop, which cleans up the same way.
void CleanUpOnTerminatingSignals(SignalCleanup cleanup);

}  // namespace quelvane
