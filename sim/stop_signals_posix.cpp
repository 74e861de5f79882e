#include <pthread.h>
#include <signal.h>

#include <thread>

#include "sim/stop_signals.h"

namespace sim {

// The signals are blocked in every thread and taken by one thread that waits for them, so
// no handler interrupts a thread in the middle of its work. (Under an i386 emulator, a
// handler that ran on the main thread left it unable to join the station threads.)
void CatchStopSignals(std::atomic<bool> *stop) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // The waiting thread is left blocked when the run ends another way; the process exits
  // around it.
  std::thread([signals, stop] {
    int caught = 0;
    while (sigwait(&signals, &caught) != 0) {
    }
    stop->store(true);
  }).detach();
}

}  // namespace sim
