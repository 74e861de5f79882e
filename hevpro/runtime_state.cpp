#include "hevpro/runtime_state.h"

#include <algorithm>
#include <chrono>

#include "hevpro/log_sink.h"
#include "hevpro/no_throw.h"

namespace hevpro {
namespace {

// Conditions may depend on things outside the runtime (a flag another thread sets), so
// a waiter looks again this often even when nothing here changes.
constexpr std::chrono::milliseconds kRecheckInterval(10);

std::uint64_t CurrentGeneration(RuntimeState &state) {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.generation;
}

// Returns at the next change after `seen`, at `until`, or at the next periodic re-check.
void WaitForChange(RuntimeState &state, std::uint64_t seen,
                   std::chrono::steady_clock::time_point until) {
  auto recheck = std::chrono::steady_clock::now() + kRecheckInterval;
  std::unique_lock<std::mutex> guard(state.lock);
  state.changed.wait_until(guard, std::min(until, recheck),
                           [&] { return state.generation != seen; });
}

}  // namespace

RuntimeState &Runtime() {
  // Never destroyed: driver threads may still call in while the process exits.
  static RuntimeState *state = new RuntimeState;
  return *state;
}

void MarkChangedLocked(RuntimeState &state) {
  ++state.generation;
  state.changed.notify_all();
}

void MarkChanged() {
  RuntimeState &state = Runtime();
  std::lock_guard<std::mutex> guard(state.lock);
  MarkChangedLocked(state);
}

}  // namespace hevpro

using namespace hevpro;

extern "C" int HevCtlWaitFor(HevPredicate predicate, void *context, int timeoutMs) {
  if (predicate == nullptr) return 0;
  return ResultOrFailure(0, [&] {
    RuntimeState &state = Runtime();
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
      // Taken before the predicate runs, so that a change during its evaluation is not
      // slept through. The predicate itself runs unlocked: it calls the control API.
      std::uint64_t seen = CurrentGeneration(state);
      if (predicate(context) != 0) return 1;
      if (std::chrono::steady_clock::now() >= deadline) return 0;
      WaitForChange(state, seen, deadline);
    }
  });
}

extern "C" void HevCtlReset(void) {
  IgnoringFailure([] {
    RuntimeState &state = Runtime();
    {
      std::lock_guard<std::mutex> guard(state.lock);
      state.clients.Clear();
      state.gates.Clear();
      std::vector<HevCommStatusEvent>().swap(state.commStatusHistory);
      state.onGateWrite = nullptr;
      state.onCommStatus = nullptr;
      state.observerContext = nullptr;
      state.gateDefCalls = 0;
      state.gateDefDelayMs = 0;
      MarkChangedLocked(state);
    }
    ResetLogging();
  });
}
