#include "link/incoming_messages_thread.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

#include "contracts/host_runtime.h"
#include "link/instance_state.h"
#include "link/process_messages.h"
#include "platform/winapi.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPassPauseMs = 100;
constexpr int kSilentPeriods = 6;  // update periods without data before a station fails
// Packets taken from one station in one pass: a burst drains within a few passes, and a
// chatty station cannot hold up the others for long.
constexpr int kPacketsPerPass = 64;

enum class Report { kFailed = 1, kRestored = 0 };

// What the thread knows of one station.
struct StationWatch {
  StationLink::Connection connection{kNoSocket, 0};
  StationLink::Look look{{kNoSocket, 0}, false};  // the last look at the link
  std::uint32_t linkChanges = ~0u;                // the link's change count at that look
  Clock::time_point lastData{};
  // This thread failed the station and reported status 1; it stays failed until the
  // station sends something on a connection.
  bool failed = false;
  bool disconnectLogged = false;
  bool ready = false;    // readable in this pass's wait
  bool pending = false;  // the last pass left complete packets in the stream
};

// A socket in this pass's wait, and its station.
struct Polled {
  win::SOCKET socket;
  int station;
};

class IncomingMessages {
 public:
  explicit IncomingMessages(InstancePrivate &state)
      : state_(state),
        copy_(state.copy),
        silence_(std::chrono::milliseconds(kSilentPeriods * 1000LL * copy_.updateRate)),
        context_{copy_.clientId, copy_.instance, &state.stopRequested} {
    for (int n = 0; n < kStationCount; ++n) {
      if (copy_.addresses[n][0] != '\0') configured_[configuredCount_++] = n;
    }
  }

  void Run() {
    PauseUnlessStopping(state_, state_.timing.startDelayMs);
    err(kLogOperational, "OxaDOV%.02d: Starting INCOMING_MESSAGES_Thread()", copy_.instance);
    unsigned char message[24];
    while (!StopRequested(state_)) {
      // The host's wait call paces the thread with the host; the thread ends on the
      // driver's own stop signal, never on the call's answer.
      HevWaitMsg(copy_.clientId, message, 1);
      if (StopRequested(state_)) break;
      Pass();
      PauseUnlessStopping(state_, kPassPauseMs);
    }
  }

 private:
  bool Stopping() const { return StopRequested(state_); }

  // One wait over every connected station, then what each readable one sent.
  void Pass() {
    Clock::time_point now = Clock::now();
    win::FdZero(&readable_);
    win::FdZero(&failed_);
    polledCount_ = 0;
    // Read before the looks, so that a change made during them is looked at next pass.
    std::uint32_t changes = state_.linkChanges.load(std::memory_order_acquire);
    bool linksAsLastSeen = changes == linkChanges_;
    linkChanges_ = changes;
    for (int i = 0; i < configuredCount_ && !Stopping(); ++i) {
      Check(configured_[i], now, linksAsLastSeen);
    }
    if (Stopping()) return;
    bool anyBuffered = std::any_of(polled_, polled_ + polledCount_,
                                   [&](const Polled &p) { return watch_[p.station].pending; });
    int ready = 0;
    if (polledCount_ > 0) {
      win::timeval poll{0, 0};
      ready = win::select(0, &readable_, nullptr, &failed_, &poll);
    }
    if (ready <= 0 && !anyBuffered) return;
    if (ready > 0) MarkReady();
    for (int i = 0; i < polledCount_ && !Stopping(); ++i) Receive(polled_[i], Clock::now());
  }

  // Which stations the wait found readable, and which had an out-of-band condition (logged
  // once per episode; data will tell the rest).
  void MarkReady() {
    int cursor = 0;
    for (win::u_int i = 0; i < win::FdCount(&readable_); ++i) {
      int station = StationOf(win::FdAt(&readable_, i), &cursor);
      if (station >= 0) watch_[station].ready = true;
    }
    cursor = 0;
    for (win::u_int i = 0; i < win::FdCount(&failed_) && !Stopping(); ++i) {
      int station = StationOf(win::FdAt(&failed_, i), &cursor);
      if (station < 0 || watch_[station].disconnectLogged) continue;
      watch_[station].disconnectLogged = true;
      err(kLogOperational, "OxaDOV%.02d: INCOMING_MESSAGES_Thread Countnet Disconnected",
          copy_.instance);
    }
  }

  // The station of a socket that the wait reported. A wait keeps the order of the sockets
  // it was given, so the search goes on from the last one found and is seldom more than a
  // step; a wait that reorders them still gets the right answer.
  int StationOf(win::SOCKET s, int *cursor) const {
    for (int step = 0; step < polledCount_; ++step) {
      int i = (*cursor + step) % polledCount_;
      if (polled_[i].socket != s) continue;
      *cursor = i + 1;
      return polled_[i].station;
    }
    return -1;
  }

  // Before the wait: closes what was retired, notes a new connection, fails a silent
  // station or one whose send broke, and puts the rest into the wait.
  void Check(int station, Clock::time_point now, bool linksAsLastSeen) {
    StationWatch &watch = watch_[station];
    if (!linksAsLastSeen) {
      watch.look = state_.stations[station].LookBeforeWait(&watch.linkChanges, watch.look);
    }
    const StationLink::Look &look = watch.look;
    const StationLink::Connection &current = look.connection;
    if (current.socket == kNoSocket) return;
    if (current.number != watch.connection.number || current.socket != watch.connection.socket) {
      watch.connection = current;
      streams_[station].Reset();
      watch.pending = false;
      watch.lastData = now;
      watch.disconnectLogged = false;
    }
    if (look.sendBroke || now - watch.lastData > silence_) {
      Fail(station, current, [&] { LogFailCause(station, look.sendBroke, now - watch.lastData); });
      return;
    }
    auto s = static_cast<win::SOCKET>(current.socket);
    win::FdAppend(s, &readable_);
    win::FdAppend(s, &failed_);
    polled_[polledCount_++] = Polled{s, station};
  }

  // Takes what a readable station sent, and packets still waiting in its buffer.
  void Receive(const Polled &polled, Clock::time_point now) {
    StationWatch &watch = watch_[polled.station];
    bool ready = watch.ready;
    watch.ready = false;
    if (!ready && !watch.pending) return;
    Received received =
        ProcessMessages(context_, static_cast<std::uint16_t>(polled.station), polled.socket,
                        streams_[polled.station], kPacketsPerPass, now);
    if (Stopping()) return;
    watch.pending = received.packets >= kPacketsPerPass && streams_[polled.station].HasPacket();
    if (received.data || received.packets > 0) watch.lastData = now;
    // The news of a connection's end is no sign of life: only a whole packet is.
    if (received.packets > 0 && watch.failed) Restore(polled.station);
    // A stream that broke never recovers by itself: the station fails now rather than
    // after a silence, and the re-open thread connects it again.
    if (received.linkLost) Fail(polled.station, watch.connection);
  }

  // Why the pass fails a station, in a detail line before the driver's own.
  void LogFailCause(int station, bool sendBroke, Clock::duration quiet) {
    if (sendBroke) {
      err(kLogDetail, "OxaDOV%.02d: Station %d took a packet only in part", copy_.instance,
          station);
      return;
    }
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(quiet).count();
    err(kLogDetail, "OxaDOV%.02d: Station %d sent nothing for %lld ms", copy_.instance, station,
        ms);
  }

  // Retires the connection, closes it, and reports the station failed. A connection
  // that someone else replaced meanwhile is theirs, not failed.
  void Fail(int station, const StationLink::Connection &connection) {
    Fail(station, connection, [] {});
  }

  // A reconnected station is restored once it talks again: a connection that is accepted
  // and stays silent (a station whose firmware hangs) is no recovery.
  void Restore(int station) {
    watch_[station].failed = false;
    state_.silentConnections[station].store(0);
    Send(station, Report::kRestored);
  }

  // `logCause` says why, just before the driver's own line, once the failure is certain.
  // A station that was failed already sent nothing on this connection: it is retired
  // without a word, and the re-open thread logs its attempts at its own pace.
  template <typename LogCause>
  void Fail(int station, const StationLink::Connection &connection, LogCause logCause) {
    StationLink &link = state_.stations[station];
    if (!link.Fail(connection.number)) return;
    if (watch_[station].failed) {
      state_.silentConnections[station].fetch_add(1);
      NoteVacancy(state_);
      link.CloseRetired();
      return;
    }
    logCause();
    NoteVacancy(state_);
    err(kLogOperational, "OxaDOV%.02d: Comms Fail. Station %d IP Addr %s. Closing Socket %d",
        copy_.instance, station, copy_.addresses[station], connection.socket);
    link.CloseRetired();
    StationWatch &watch = watch_[station];
    watch.failed = true;
    watch.disconnectLogged = false;
    Send(station, Report::kFailed);
  }

  void Send(int station, Report report) {
    if (Stopping()) return;
    HevSetPlcCommStatus(copy_.clientId, static_cast<std::uint8_t>(copy_.instance), station, 1,
                        static_cast<int>(report));
  }

  InstancePrivate &state_;
  const InstanceCopy &copy_;
  const Clock::duration silence_;
  const PacketContext context_;
  int configured_[kStationCount] = {};
  int configuredCount_ = 0;
  // What each pass looks at for every station is kept together, apart from the stations'
  // receive buffers (10 KB each), which only a readable station's turn touches: a pass
  // over hundreds of stations then reads a few cache lines per station, not a page.
  StationWatch watch_[kStationCount];
  StationStream streams_[kStationCount];
  Polled polled_[kStationCount] = {};
  int polledCount_ = 0;
  std::uint32_t linkChanges_ = ~0u;  // the instance's link change count at the last pass
  win::fd_set readable_, failed_;
};

}  // namespace

unsigned DEVADO_STDCALL INCOMING_MESSAGES_Thread(void *owner) {
  std::shared_ptr<InstancePrivate> state = TakeThreadState(owner);
  try {
    // The stations' buffers are too large for the thread's stack.
    auto messages = std::make_unique<IncomingMessages>(*state);
    messages->Run();
  } catch (...) {
    // Nothing may escape a thread's top function.
  }
  WaitForRelease(*state);
  if (!Abandoned(*state)) win::Sleep(static_cast<win::DWORD>(state->timing.stopFlagDelayMs));
  CallHostUnlessAbandoned(*state, [&] {
    state->block.With([](InstanceBlock &b) { b.stopFlag.Store(1); });
    err(kLogOperational, "OxaDOV%.02d: Shutdown INCOMING_MESSAGES_Thread()", state->copy.instance);
  });
  return 0;
}
