// Everything the host calls and the control calls share, under one lock. Every change
// bumps a generation number and wakes the condition variable, so that HevWaitMsg
// notices a removal at once and HevCtlWaitFor re-checks its condition.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "hevpro/client_table.h"
#include "hevpro/gate_database.h"
#include "hevpro/hevpro_control.h"

namespace hevpro {

struct RuntimeState {
  std::mutex lock;
  std::condition_variable changed;
  std::uint64_t generation = 0;
  ClientTable clients;
  GateDatabase gates;
  std::vector<HevCommStatusEvent> commStatusHistory;
  HevGateWriteObserver onGateWrite = nullptr;
  HevCommStatusObserver onCommStatus = nullptr;
  void *observerContext = nullptr;
  // How often HevGetGateDef was called, and how long each call takes before it answers.
  std::uint32_t gateDefCalls = 0;
  int gateDefDelayMs = 0;
};

RuntimeState &Runtime();

// The caller holds state.lock.
void MarkChangedLocked(RuntimeState &state);
// For changes that happen outside the state (a log line).
void MarkChanged();

}  // namespace hevpro
