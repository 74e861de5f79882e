#include "entry/instance_private.h"

#include <chrono>
#include <map>
#include <memory>

namespace {

struct PrivateTable {
  std::mutex lock;
  std::map<const InstanceBlock *, std::unique_ptr<InstancePrivate>> states;
};

PrivateTable &Table() {
  static PrivateTable *table = new PrivateTable;  // never destroyed: threads may outlive it
  return *table;
}

}  // namespace

InstancePrivate &PrivateStateOf(const InstanceBlock *block) {
  PrivateTable &table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  std::unique_ptr<InstancePrivate> &state = table.states[block];
  if (!state) state = std::make_unique<InstancePrivate>();
  return *state;
}

InstancePrivate &RenewPrivateState(const InstanceBlock *block) {
  PrivateTable &table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  std::unique_ptr<InstancePrivate> &state = table.states[block];
  ThreadTiming timing;
  if (state) {
    bool running;
    {
      std::lock_guard<std::mutex> stop(state->stopLock);
      running = state->threadsRunning > 0;
    }
    if (running) return *state;
    timing = state->timing;
  }
  state = std::make_unique<InstancePrivate>();
  state->timing = timing;
  return *state;
}

void ReleasePrivateState(const InstanceBlock *block) {
  PrivateTable &table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.states.erase(block);
}

void RequestStop(InstancePrivate &state) {
  {
    std::lock_guard<std::mutex> guard(state.stopLock);
    state.stopRequested = true;
  }
  state.stopChanged.notify_all();
}

void AbandonBlock(InstancePrivate &state) {
  std::lock_guard<std::mutex> guard(state.stopLock);
  state.blockAbandoned = true;
}

void RaiseStopFlag(InstanceBlock *block, InstancePrivate &state) {
  std::lock_guard<std::mutex> guard(state.stopLock);
  if (!state.blockAbandoned) block->stopFlag.Store(1);
}

bool StopRequested(InstancePrivate &state) {
  return state.stopRequested.load();
}

bool PauseUnlessStopping(InstancePrivate &state, int milliseconds) {
  std::unique_lock<std::mutex> lock(state.stopLock);
  return !state.stopChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                     [&] { return state.stopRequested.load(); });
}

void ThreadStarting(InstancePrivate &state) {
  std::lock_guard<std::mutex> guard(state.stopLock);
  ++state.threadsRunning;
}

void ThreadEnded(InstancePrivate &state) {
  std::lock_guard<std::mutex> guard(state.stopLock);
  --state.threadsRunning;
  state.stopChanged.notify_all();
}

bool WaitForThreads(InstancePrivate &state, int milliseconds) {
  std::unique_lock<std::mutex> lock(state.stopLock);
  return state.stopChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&] { return state.threadsRunning == 0; });
}

void StoreConnection(InstanceBlock *block, int station, std::int32_t socket) {
  StationPrivate &link = PrivateStateOf(block).stations[station];
  block->stations[station].socket.Store(socket);
  ++link.connection;
}
