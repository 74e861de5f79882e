#include "link/sockets_reopen_thread.h"

#include <cstdint>

#include "countnet/sampling_config.h"
#include "entry/host_runtime.h"
#include "entry/instance_private.h"
#include "link/station_objects.h"
#include "link/station_sockets.h"
#include "platform/winapi.h"

namespace {

constexpr win::DWORD kEventWaitMs = 1000;
constexpr int kClosingDelayMs = 1000;

enum class Outcome { kNothing, kStored, kEventFailed };

class SocketsReOpen {
 public:
  explicit SocketsReOpen(InstanceBlock *block)
      : block_(block), state_(PrivateStateOf(block)), instance_(block->instanceNumber.Get()) {}

  void Run() {
    PauseUnlessStopping(state_, state_.timing.startDelayMs);
    err(kLogOperational, "OxaDOV%.02d: Starting SocketsReOpenThread()", instance_);
    while (!Stopping()) {
      for (int station = 0; station < kStationCount && !Stopping(); ++station) {
        Outcome outcome = Reconnect(station);
        if (outcome == Outcome::kStored) Rearm(station);
        if (outcome != Outcome::kEventFailed)
          PauseUnlessStopping(state_, state_.timing.reopenStationPauseMs);
      }
      PauseUnlessStopping(state_, state_.timing.reopenPassPauseMs);
    }
    PauseUnlessStopping(state_, kClosingDelayMs);
    err(kLogOperational, "OxaDOV%.02d: Closing SocketsReOpenThread()", instance_);
  }

 private:
  // The private signal first: once driver end has begun, the block is not read again.
  bool Stopping() { return StopRequested(state_) || block_->stopFlag.Load() != 0; }

  // Connects the station again if it is configured and not connected, holding its link
  // lock; a station that a warm start is busy with is left for the next pass.
  Outcome Reconnect(int station) {
    StationEntry &entry = block_->stations[station];
    std::unique_lock<std::mutex> lock(state_.stations[station].link, std::try_to_lock);
    if (!lock.owns_lock() || Stopping() || !IsConfigured(entry) ||
        entry.socket.Load() != kNoSocket || state_.stations[station].closePending) {
      return Outcome::kNothing;
    }
    char address[kAddressCopySize];
    CopyIpAddress(entry, address);
    err(kLogOperational, "OxaDOV%d: SocketsReOpenThread() reconnecting PLC %d IP Addr %s",
        instance_, station, address);
    std::int32_t socket = kNoSocket;
    if (InitDOVCh(block_, address, &socket) != 1) {
      err(kLogOperational, "OxaDOV%d: SocketsReOpenThread() Failed to reconnect PLC %d IP Addr %s",
          instance_, station, address);
      return Outcome::kNothing;
    }
    err(kLogOperational,
        "OxaDOV%d: SocketsReOpenThread() PLC %d IP Addr %s reconnected successfully", instance_,
        station, address);
    return Store(station, socket);
  }

  // Stores the new socket under the socket-table event. A connection that cannot be
  // stored (the event cannot be taken, or the driver is ending) is closed, not leaked.
  Outcome Store(int station, std::int32_t socket) {
    auto event = static_cast<win::HANDLE>(block_->socketTableEvent.Get());
    if (win::WaitForSingleObject(event, kEventWaitMs) != WAIT_OBJECT_0) {
      err(kLogOperational, "OxaDOV%.02d: SocketsReOpenThread() WaitForSingleObject() Failed!",
          instance_);
      win::closesocket(static_cast<win::SOCKET>(socket));
      return Outcome::kEventFailed;
    }
    bool store = !StopRequested(state_) && block_->stations[station].socket.Load() == kNoSocket;
    if (store) StoreConnection(block_, station, socket);
    win::SetEvent(event);
    if (!store) win::closesocket(static_cast<win::SOCKET>(socket));
    return store ? Outcome::kStored : Outcome::kNothing;
  }

  // A station that connects here for the first time gets its objects before its channel
  // tags are armed again.
  void Rearm(int station) {
    EnsureStationObjects(block_, station);
    RestoreSamplingConfig(block_, station);
  }

  InstanceBlock *block_;
  InstancePrivate &state_;
  int instance_;
};

}  // namespace

void SocketsReOpenThread(void *instanceBlock) {
  auto *block = static_cast<InstanceBlock *>(instanceBlock);
  InstancePrivate &state = PrivateStateOf(block);
  try {
    SocketsReOpen(block).Run();
  } catch (...) {
    // Nothing may escape a thread's top function.
  }
  ThreadEnded(state);
}
