// How countnet-sim learns that it should stop: Ctrl-C or SIGTERM (on Windows, Ctrl-C and
// Ctrl-Break).
#pragma once

#include <atomic>

namespace sim {

// Call first thing in main, before any thread starts. From then on the stop signals set
// `*stop` instead of ending the program.
void CatchStopSignals(std::atomic<bool> *stop);

}  // namespace sim
