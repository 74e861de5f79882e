// The link status reports. Every call is kept, in call order, even one with an unknown
// client: the history is what tests read to see exactly what the driver reported.
#include "contracts/host_runtime.h"
#include "hevpro/no_throw.h"
#include "hevpro/runtime_state.h"

using namespace hevpro;

extern "C" uint16_t HevSetPlcCommStatus(uint8_t clientId, uint8_t driver, int station, int a,
                                        int status) {
  return ResultOrFailure(kHevInternalFailure, [&]() -> std::uint16_t {
    RuntimeState &state = Runtime();
    HevCommStatusEvent event{clientId, driver, station, a, status};
    HevCommStatusObserver observer;
    void *context;
    bool known;
    {
      std::lock_guard<std::mutex> guard(state.lock);
      state.commStatusHistory.push_back(event);
      MarkChangedLocked(state);
      known = state.clients.Contains(clientId);
      observer = state.onCommStatus;
      context = state.observerContext;
    }
    if (observer != nullptr) observer(context, &event);
    if (!known) return kHevNoSuchClient;
    return kHevOk;
  });
}

extern "C" void HevCtlObserve(HevGateWriteObserver onWrite, HevCommStatusObserver onStatus,
                              void *context) {
  ResultOrFailure(0, [&] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    state.onGateWrite = onWrite;
    state.onCommStatus = onStatus;
    state.observerContext = context;
    return 0;
  });
}

extern "C" int HevCtlCommStatusCount(void) {
  return ResultOrFailure(0, [] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    return static_cast<int>(state.commStatusHistory.size());
  });
}

extern "C" int HevCtlCommStatusAt(int index, HevCommStatusEvent *event) {
  if (event == nullptr || index < 0) return kHevBadArgument;
  return ResultOrFailure<int>(kHevInternalFailure, [&]() -> int {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    if (static_cast<std::size_t>(index) >= state.commStatusHistory.size()) return kHevBadArgument;
    *event = state.commStatusHistory[index];
    return 0;
  });
}
