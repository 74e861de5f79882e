#include "link/sockets_reopen_thread.h"

#include <cstdint>
#include <memory>

#include "contracts/host_runtime.h"
#include "link/instance_state.h"
#include "link/station_sockets.h"

namespace {

class SocketsReOpen {
 public:
  explicit SocketsReOpen(InstancePrivate &state) : state_(state), copy_(state.copy) {}

  void Run() {
    PauseUnlessStopping(state_, state_.timing.startDelayMs);
    err(kLogOperational, "OxaDOV%.02d: Starting SocketsReOpenThread()", copy_.instance);
    while (!Stopping()) {
      for (int station = 0; station < kStationCount && !Stopping(); ++station) {
        if (NeedsConnection(station)) Reconnect(station);
        PauseUnlessStopping(state_, state_.timing.reopenStationPauseMs);
      }
      PauseUnlessStopping(state_, state_.timing.reopenPassPauseMs);
    }
  }

 private:
  bool Stopping() const { return StopRequested(state_); }

  bool NeedsConnection(int station) const {
    return copy_.addresses[station][0] != '\0' &&
           state_.stations[station].Current().socket == kNoSocket;
  }

  // Connects the station again and hands the connection over armed. Every host call
  // (each log line) is followed by a look at the stop signal.
  void Reconnect(int station) {
    const char *address = copy_.addresses[station];
    err(kLogOperational, "OxaDOV%d: SocketsReOpenThread() reconnecting PLC %d IP Addr %s",
        copy_.instance, station, address);
    std::int32_t socket = kNoSocket;
    if (Stopping()) return;
    if (ConnectStation(copy_.instance, address, &socket) != 1) {
      if (Stopping()) return;
      err(kLogOperational, "OxaDOV%d: SocketsReOpenThread() Failed to reconnect PLC %d IP Addr %s",
          copy_.instance, station, address);
      return;
    }
    if (!Stopping()) {
      err(kLogOperational,
          "OxaDOV%d: SocketsReOpenThread() PLC %d IP Addr %s reconnected successfully",
          copy_.instance, station, address);
    }
    if (Stopping()) {
      win::closesocket(static_cast<win::SOCKET>(socket));
      return;
    }
    HandOverConnection(state_, station, socket, Handover::kIfVacant);
  }

  InstancePrivate &state_;
  const InstanceCopy &copy_;
};

}  // namespace

unsigned DEVADO_STDCALL SocketsReOpenThread(void *instanceBlock) {
  auto *block = static_cast<InstanceBlock *>(instanceBlock);
  std::shared_ptr<InstancePrivate> state = SharedPrivateStateOf(block);
  try {
    SocketsReOpen(*state).Run();
  } catch (...) {
    // Nothing may escape a thread's top function.
  }
  WaitForRelease(*state);
  if (!Abandoned(*state)) {
    err(kLogOperational, "OxaDOV%.02d: Closing SocketsReOpenThread()", state->copy.instance);
  }
  return 0;
}
