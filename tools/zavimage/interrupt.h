// Clean interruption. SIGINT, SIGTERM and SIGHUP ask a run to stop; SIGWINCH tells the progress
// display that the terminal changed size. The four signals are blocked before any thread starts
// (threads inherit the mask) and taken by one watching thread with sigwait: no handler ever runs
// inside the library, and a save in progress always runs to its end, so it renames its finished
// file into place or removes its temporary one. The workers look at Requested() between files.
#pragma once

#include <functional>

namespace zavtool {

// Blocks the signals and starts the watching thread; SIGXFSZ is ignored, so that a write beyond
// the file size limit fails that file alone. Call first in main, before any thread.
// A signal that was ignored when the tool started (a background job of a shell) stays ignored.
void StartSignalWatch();

// The signal that asked to stop (SIGINT, SIGTERM, SIGHUP), or 0.
int StopSignal();
inline bool StopRequested() {
    return StopSignal() != 0;
}

// The exit status after a stop: 128 + the signal (130 for SIGINT, 143 for SIGTERM).
int StopExitStatus();

// "SIGINT", "SIGTERM", "SIGHUP".
const char *SignalName(int signal);

// Called on the watching thread for every signal taken (stop or resize); empty to remove.
void SetSignalListener(std::function<void(int signal)> listener);

}  // namespace zavtool
