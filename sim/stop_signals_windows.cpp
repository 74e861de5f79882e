#include <csignal>

#include "sim/stop_signals.h"

namespace sim {
namespace {

std::atomic<bool> *stopFlag = nullptr;

extern "C" void OnStopSignal(int) {
  if (stopFlag != nullptr) stopFlag->store(true);
}

}  // namespace

// The console's control handler runs on a thread of its own, so the handler only sets
// the flag.
void CatchStopSignals(std::atomic<bool> *stop) {
  stopFlag = stop;
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  std::signal(SIGBREAK, OnStopSignal);
}

}  // namespace sim
