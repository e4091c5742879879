#pragma once
// The signals that ask a run to stop: Ctrl-C, SIGTERM and SIGHUP (the terminal closed).
#include <signal.h>

namespace kestrane::cli {

// Blocks them in the calling thread, and so in every thread it starts from here on and in the
// program it execs, so that only a thread that waits for them takes them; returns those blocked.
// One the program started with ignored (nohup, or SIGINT in a job a script put in the background)
// stays ignored: a blocked signal is queued even when ignored, so it is left out.
sigset_t blockStopSignals();

}  // namespace kestrane::cli
