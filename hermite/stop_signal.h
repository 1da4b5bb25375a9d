// The signals a batch system sends before a job's time runs out: SIGTERM,
// SIGINT and SIGUSR1. The first asks the run to stop after its current
// block step (the handler only records it); a second one ends the process
// at once, after removing a temporary output file being written under a
// name.
#pragma once

namespace hermite {

// Installs the handlers (once per process).
void catch_stop_signals();

// The number of the first stop signal received, 0 while there was none.
int stop_signal();

// "SIGTERM" and so on.
const char* signal_name(int sig);

}  // namespace hermite
