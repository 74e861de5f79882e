#include "link/sockets_reopen_thread.h"

#include <algorithm>
#include <chrono>
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
      Walk();
      PauseUnlessStopping(state_, state_.timing.reopenPassPauseMs);
    }
  }

 private:
  using Clock = std::chrono::steady_clock;

  bool Stopping() const { return StopRequested(state_); }

  // Visits the station entries in turn, one pause apart, and reconnects each that needs
  // it. The thread sleeps through the entries that need nothing instead of waking for
  // each; a station that loses its connection meanwhile wakes it, and is visited at its
  // entry's time in this walk if that time is still to come, in the next walk if not.
  void Walk() {
    const Clock::duration pause = std::chrono::milliseconds(state_.timing.reopenStationPauseMs);
    int station = 0;                       // the next entry to visit
    Clock::time_point due = Clock::now();  // when it is visited
    while (station < kStationCount && !Stopping()) {
      std::uint32_t seen = Vacancies(state_);
      int next = station;
      while (next < kStationCount && !NeedsConnection(next)) ++next;
      Clock::time_point nextDue = due + pause * (next - station);
      if (Clock::now() < nextDue) {
        WaitForVacancy(state_, seen, nextDue);
        // The entries whose time has come and gone while the thread slept needed nothing
        // when it fell asleep; one that lost its connection since is visited at once.
        long long passed = (Clock::now() - due) / pause;
        int end = station + static_cast<int>(std::min<long long>(std::max<long long>(passed, 0),
                                                                 next - station));
        int first = station;
        while (first < end && !NeedsConnection(first)) ++first;
        due += pause * (first - station);
        station = first;
        continue;
      }
      if (next == kStationCount) break;
      Reconnect(next);
      station = next + 1;
      due = Clock::now() + pause;
    }
  }

  bool NeedsConnection(int station) const {
    return copy_.addresses[station][0] != '\0' && state_.stations[station].Vacant();
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

unsigned DEVADO_STDCALL SocketsReOpenThread(void *owner) {
  std::shared_ptr<InstancePrivate> state = TakeThreadState(owner);
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
