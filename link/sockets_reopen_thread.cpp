#include "link/sockets_reopen_thread.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

#include "contracts/host_runtime.h"
#include "link/instance_state.h"
#include "link/station_sockets.h"

namespace {

using Clock = std::chrono::steady_clock;

class SocketsReOpen {
 public:
  explicit SocketsReOpen(InstancePrivate &state)
      : state_(state),
        copy_(state.copy),
        retry_(std::chrono::milliseconds(state.timing.reopenRetryMs)),
        logEvery_(std::chrono::milliseconds(state.timing.reopenLogEveryMs)),
        mostHeld_(RoundsToHold(retry_)) {
    std::fill(std::begin(nextTry_), std::end(nextTry_), Clock::time_point::min());
    std::fill(std::begin(quietUntil_), std::end(quietUntil_), Clock::time_point::min());
  }
  ~SocketsReOpen() {
    for (int n = 0; n < kStationCount; ++n) DropCarried(n);
  }
  SocketsReOpen(const SocketsReOpen &) = delete;
  SocketsReOpen &operator=(const SocketsReOpen &) = delete;

  void Run() {
    PauseUnlessStopping(state_, state_.timing.startDelayMs);
    err(kLogOperational, "OxaDOV%.02d: Starting SocketsReOpenThread()", copy_.instance);
    while (!Stopping()) {
      // Taken before the round looks at the stations, so that a station lost during the
      // round wakes the wait at once.
      std::uint32_t seen = Vacancies(state_);
      WaitForVacancy(state_, seen, Round());
    }
  }

 private:
  bool Stopping() const { return StopRequested(state_); }

  bool NeedsConnection(int station) const {
    return copy_.addresses[station][0] != '\0' && state_.stations[station].Vacant();
  }

  // A connect left unanswered in its window stays open for the next rounds while the
  // system repeats the request at steps of about a second (once after the first on some
  // systems, five times on a default Linux): each repeat asks the station anew without a
  // new socket. The station is asked every second all the same, and when the repeats end
  // a fresh connect follows. Rounds further apart than the system's steps hold a connect
  // for as many of them as the repeats last; rounds closer together hold it one round,
  // in which a late answer is still taken.
  static int RoundsToHold(Clock::duration retry) {
    using std::chrono::seconds;
    if (retry < seconds(1)) return 1;
    auto heldFor = seconds(win::ConnectRepeatsEverySecond());
    return std::max(1, static_cast<int>(heldFor / retry));
  }

  bool Carried(int station) const { return carried_[station].socket != INVALID_SOCKET; }

  void DropCarried(int station) {
    if (Carried(station)) win::closesocket(carried_[station].socket);
    carried_[station] = PendingConnect{};
  }

  // `held` is how many rounds before this one watched the connect (0 for a fresh one).
  int Start(ConnectBatch &batch, int station, int *held) {
    *held = 0;
    if (!Carried(station)) return batch.Add(copy_.addresses[station]);
    *held = heldRounds_[station];
    int attempt = batch.Adopt(copy_.addresses[station], carried_[station]);
    carried_[station] = PendingConnect{};
    return attempt;
  }

  // Every station that needs a connection and whose turn has come gets its connect now,
  // all of them at once within one shared window, so that no station waits behind
  // unreachable ones. Returns when the next turn is due.
  Clock::time_point Round() {
    Clock::time_point now = Clock::now();
    Clock::time_point next = now + retry_;  // a lost connection wakes the thread sooner
    ConnectBatch batch(copy_.instance);
    int attempt[kStationCount];
    int held[kStationCount];
    bool any = false;
    for (int n = 0; n < kStationCount; ++n) {
      attempt[n] = -1;
      if (!NeedsConnection(n)) {
        DropCarried(n);  // connected meanwhile (a warm start), or no station configured
        continue;
      }
      if (now < nextTry_[n]) {
        next = std::min(next, nextTry_[n]);
        continue;
      }
      attempt[n] = Start(batch, n, &held[n]);
      any = true;
    }
    if (!any) return next;
    // A station that answers is taken at once; the others keep the rest of the window.
    bool waiting = true;
    bool someCameBack = false;
    int unanswered[kStationCount];
    int unansweredCount = 0;
    while (waiting && !Stopping()) {
      waiting = batch.WaitForSome();
      for (int n = 0; n < kStationCount && !Stopping(); ++n) {
        if (attempt[n] < 0 || (waiting && !batch.Decided(attempt[n]))) continue;
        bool connected = batch.Connected(attempt[n]);
        // A station known to accept and stay silent says nothing about the network.
        someCameBack = someCameBack || (connected && state_.silentConnections[n].load() == 0);
        if (!connected) unanswered[unansweredCount++] = n;
        Settle(batch, n, attempt[n], held[n], now);
        attempt[n] = -1;
        next = std::min(next, nextTry_[n]);
      }
    }
    // A station that answers after an outage means the network is back: a connect of this
    // round that went out before it was, and was lost, is made again at once rather than
    // a second later, with a fresh request.
    if (someCameBack && unansweredCount > 0 && !Stopping()) {
      next = Clock::now();
      for (int i = 0; i < unansweredCount; ++i) {
        DropCarried(unanswered[i]);
        nextTry_[unanswered[i]] = next;
      }
    }
    return next;
  }

  // A connect that went unanswered is held for the next round while the system still
  // repeats it; any other is concluded.
  void Settle(ConnectBatch &batch, int station, int attempt, int held, Clock::time_point tried) {
    if (batch.Decided(attempt) || held >= mostHeld_) {
      Conclude(batch, station, attempt, tried);
      return;
    }
    carried_[station] = batch.Release(attempt);
    heldRounds_[station] = held + 1;
    nextTry_[station] = tried + retry_;
  }

  // Logs the attempt and hands a new connection over armed. An unreachable station, and a
  // station that keeps accepting and staying silent, are tried as often as recovery
  // needs but logged at the old walk's pace; a station that comes back is always logged.
  // Every host call (each log line) is followed by a look at the stop signal.
  void Conclude(ConnectBatch &batch, int station, int attempt, Clock::time_point tried) {
    Clock::time_point now = Clock::now();
    bool recovery = batch.Connected(attempt) && state_.silentConnections[station].load() == 0;
    bool paced = now >= quietUntil_[station];
    bool log = paced || recovery;
    if (log) quietUntil_[station] = now + logEvery_;
    nextTry_[station] = tried + retry_;  // a second after this try began
    const char *address = copy_.addresses[station];
    if (log) {
      err(kLogOperational, "OxaDOV%d: SocketsReOpenThread() reconnecting PLC %d IP Addr %s",
          copy_.instance, station, address);
    }
    std::int32_t socket = kNoSocket;
    if (Stopping()) return;
    if (batch.Conclude(attempt, log, &socket) != 1) {
      if (log && !Stopping()) {
        err(kLogOperational,
            "OxaDOV%d: SocketsReOpenThread() Failed to reconnect PLC %d IP Addr %s", copy_.instance,
            station, address);
      }
      return;
    }
    if (log && !Stopping()) {
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
  const Clock::duration retry_;
  const Clock::duration logEvery_;
  const int mostHeld_;  // rounds an unanswered connect is held beyond its first
  Clock::time_point nextTry_[kStationCount];     // a failed station's next connect
  Clock::time_point quietUntil_[kStationCount];  // its attempts are not logged before
  PendingConnect carried_[kStationCount];        // its connect kept open for the next round
  int heldRounds_[kStationCount] = {};           // rounds that have watched it, while carried
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
  CallHostUnlessAbandoned(*state, [&] {
    err(kLogOperational, "OxaDOV%.02d: Closing SocketsReOpenThread()", state->copy.instance);
  });
  return 0;
}
