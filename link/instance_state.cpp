#include "link/instance_state.h"

#include <chrono>
#include <map>
#include <thread>

namespace {

struct PrivateTable {
  std::mutex lock;
  std::map<const InstanceBlock *, std::shared_ptr<InstancePrivate>> states;
};

PrivateTable &Table() {
  static PrivateTable *table = new PrivateTable;  // never destroyed: threads may outlive it
  return *table;
}

}  // namespace

void BlockAccess::Open(InstanceBlock *block) {
  std::lock_guard<std::mutex> guard(lock_);
  block_ = block;
}

void BlockAccess::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  block_ = nullptr;
}

std::shared_ptr<InstancePrivate> FindPrivateState(const InstanceBlock *block) {
  PrivateTable &table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.states.find(block);
  return found != table.states.end() ? found->second : nullptr;
}

std::shared_ptr<InstancePrivate> RunningInstance(const InstanceBlock *block) {
  std::shared_ptr<InstancePrivate> state = FindPrivateState(block);
  if (state && state->phase.load() == InstancePhase::kRunning) return state;
  return nullptr;
}

ThreadTiming &PresetTiming(const InstanceBlock *block) {
  PrivateTable &table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  std::shared_ptr<InstancePrivate> &state = table.states[block];
  if (!state) state = std::make_shared<InstancePrivate>();
  return state->timing;
}

InstancePrivate &RenewPrivateState(const InstanceBlock *block) {
  PrivateTable &table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  std::shared_ptr<InstancePrivate> &state = table.states[block];
  ThreadTiming timing;
  if (state) timing = state->timing;
  state = std::make_shared<InstancePrivate>();
  state->timing = timing;
  return *state;
}

void ReleasePrivateState(const InstanceBlock *block) {
  PrivateTable &table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.states.erase(block);
}

void *ThreadArgumentFor(const std::shared_ptr<InstancePrivate> &state) {
  return new std::shared_ptr<InstancePrivate>(state);
}

std::shared_ptr<InstancePrivate> TakeThreadState(void *argument) {
  std::unique_ptr<std::shared_ptr<InstancePrivate>> owned(
      static_cast<std::shared_ptr<InstancePrivate> *>(argument));
  return owned ? std::move(*owned) : nullptr;
}

void RequestStop(InstancePrivate &state) {
  {
    std::lock_guard<std::mutex> guard(state.stopLock);
    state.stopRequested = true;
  }
  state.stopChanged.notify_all();
}

bool StopRequested(const InstancePrivate &state) {
  return state.stopRequested.load();
}

bool PauseUnlessStopping(InstancePrivate &state, int milliseconds) {
  std::unique_lock<std::mutex> lock(state.stopLock);
  return !state.stopChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                     [&] { return state.stopRequested.load(); });
}

void NoteVacancy(InstancePrivate &state) {
  {
    std::lock_guard<std::mutex> guard(state.stopLock);
    ++state.vacancies;
  }
  state.stopChanged.notify_all();
}

std::uint32_t Vacancies(InstancePrivate &state) {
  std::lock_guard<std::mutex> guard(state.stopLock);
  return state.vacancies;
}

void WaitForVacancy(InstancePrivate &state, std::uint32_t seen,
                    std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(state.stopLock);
  state.stopChanged.wait_until(
      lock, deadline, [&] { return state.stopRequested.load() || state.vacancies != seen; });
}

void WaitForRelease(InstancePrivate &state) {
  std::unique_lock<std::mutex> lock(state.stopLock);
  ++state.threadsWaiting;
  state.stopChanged.notify_all();
  state.stopChanged.wait(lock, [&] { return state.released; });
}

bool WaitForThreadsToLetGo(InstancePrivate &state, int count, int milliseconds) {
  std::unique_lock<std::mutex> lock(state.stopLock);
  return state.stopChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&] { return state.threadsWaiting >= count; });
}

void ReleaseThreads(InstancePrivate &state) {
  {
    std::lock_guard<std::mutex> guard(state.stopLock);
    state.released = true;
  }
  state.stopChanged.notify_all();
}

void AbandonThreads(InstancePrivate &state) {
  // A thread inside its last host calls holds the gate; one that hangs there began the
  // call before driver end gave up, and is given up without the gate.
  // Tried rather than waited for with a timeout: a timed lock is a call that valgrind's
  // thread checker does not follow, and it would then see the gate unlocked unheld.
  std::unique_lock<std::mutex> gate(state.hostGate, std::defer_lock);
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (!gate.try_lock() && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  {
    std::lock_guard<std::mutex> guard(state.stopLock);
    state.abandoned = true;
    state.released = true;
  }
  state.stopChanged.notify_all();
}

bool Abandoned(InstancePrivate &state) {
  std::lock_guard<std::mutex> guard(state.stopLock);
  return state.abandoned;
}
