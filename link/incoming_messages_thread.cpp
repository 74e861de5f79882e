#include "link/incoming_messages_thread.h"

#include <chrono>
#include <cstdint>

#include "countnet/process_messages.h"
#include "entry/host_runtime.h"
#include "entry/instance_private.h"
#include "platform/winapi.h"

namespace {

constexpr int kPassPauseMs = 100;
constexpr win::DWORD kEventWaitMs = 1000;
constexpr int kSilentPeriods = 6;  // update periods without data before a station fails

enum class Report { kNone, kFailed, kRestored };

// Whole seconds on a monotonic clock: setting the wall clock neither fails nor spares a
// station.
std::int64_t MonotonicSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

// What the thread knows of one station.
struct StationWatch {
  std::int64_t lastData = 0;
  std::uint32_t connection = 0;  // the connection the last-data time belongs to
  bool failed = false;           // closed by this thread; status 1 reported
  bool disconnectLogged = false;
};

class IncomingMessages {
 public:
  explicit IncomingMessages(InstanceBlock *block)
      : block_(block),
        state_(PrivateStateOf(block)),
        instance_(block->instanceNumber.Get()),
        clientId_(block->clientId) {}

  // The thread ends when the host's wait call answers 0, which it does once driver end
  // has removed the client. From the moment driver end begins, the stations are left
  // alone.
  void Run() {
    PauseUnlessStopping(state_, state_.timing.startDelayMs);
    err(kLogOperational, "OxaDOV%.02d: Starting INCOMING_MESSAGES_Thread()", instance_);
    unsigned char message[24];
    while (HevWaitMsg(clientId_, message, 1) != 0) {
      if (!StopRequested(state_)) Pass();
      win::Sleep(kPassPauseMs);
    }
    win::Sleep(static_cast<win::DWORD>(state_.timing.stopFlagDelayMs));
    RaiseStopFlag(block_, state_);
    err(kLogOperational, "OxaDOV%.02d: Shutdown INCOMING_MESSAGES_Thread()", instance_);
  }

 private:
  // The clock is read once per pass and again after anything that may have taken time
  // (a packet, a close, a host call), so that a quiet pass costs one poll per station.
  void Pass() {
    now_ = MonotonicSeconds();
    for (int station = 0; station < kStationCount; ++station) {
      if (CheckStation(station)) now_ = MonotonicSeconds();
    }
  }

  // True when the check did more than poll.
  bool CheckStation(int station) {
    PolledLink readable{kNoSocket, 0};
    Report first = Report::kNone, second = Report::kNone;
    bool closing = false;  // a close whose event wait failed took up to a second
    {
      StationPrivate &link = state_.stations[station];
      std::unique_lock<std::mutex> lock(link.link, std::try_to_lock);
      if (!lock.owns_lock() || StopRequested(state_)) return false;  // busy, or the driver ends
      if (link.closePending) {
        first = StoreClosed(station);
      } else {
        readable = PolledLink{Check(station, &first, &second), link.connection};
      }
      closing = link.closePending;
    }
    Send(station, first);
    Send(station, second);
    if (readable.socket != kNoSocket) Receive(station, readable);
    return closing || first != Report::kNone || second != Report::kNone ||
           readable.socket != kNoSocket;
  }

  // The checks under the link lock. Returns the socket when it has data to read.
  std::int32_t Check(int station, Report *first, Report *second) {
    StationWatch &watch = watch_[station];
    std::int32_t socket = block_->stations[station].socket.Load();
    if (socket == kNoSocket) return kNoSocket;
    std::int64_t checkTime = now_;
    // A connection that is new to this thread gets a whole silence period from now.
    std::uint32_t connection = state_.stations[station].connection;
    if (watch.connection != connection) {
      watch.connection = connection;
      watch.lastData = checkTime;
    }
    if (watch.failed) {
      *first = Report::kRestored;
      watch.lastData = now_;
      watch.failed = false;
    }
    if (checkTime - watch.lastData > kSilentPeriods * block_->updateRate.Get()) {
      *second = Fail(station, socket);
      return kNoSocket;
    }
    return Poll(station, socket) ? socket : kNoSocket;
  }

  // True when the socket has data (or news of its end) to read.
  bool Poll(int station, std::int32_t socket) {
    StationWatch &watch = watch_[station];
    auto s = static_cast<win::SOCKET>(socket);
    win::fd_set readable, failed;
    win::FdZero(&readable);
    win::FdZero(&failed);
    win::FdSet(s, &readable);
    win::FdSet(s, &failed);
    win::timeval poll{0, 0};
    if (win::select(1, &readable, nullptr, &failed, &poll) <= 0) return false;
    if (win::FdIsSet(s, &failed)) {
      if (!watch.disconnectLogged) {
        err(kLogOperational, "OxaDOV%.02d: INCOMING_MESSAGES_Thread Countnet Disconnected",
            instance_);
      }
      watch.disconnectLogged = true;
      return false;
    }
    watch.disconnectLogged = false;
    watch.lastData = now_;
    return win::FdIsSet(s, &readable);
  }

  // Reads and handles one packet. A stream that broke never recovers by itself: the
  // station fails now rather than after a silence, and the re-open thread connects it
  // again.
  void Receive(int station, const PolledLink &polled) {
    bool linkLost = false;
    ProcessMessages(block_, static_cast<std::uint16_t>(station), &linkLost, &polled);
    if (!linkLost) return;
    Report report = Report::kNone;
    {
      // Whoever holds the station now (a warm start, driver end) replaces or ends this
      // connection; otherwise the next pass finds the broken stream again.
      StationPrivate &link = state_.stations[station];
      std::unique_lock<std::mutex> lock(link.link, std::try_to_lock);
      if (!lock.owns_lock() || StopRequested(state_) || link.connection != polled.connection ||
          block_->stations[station].socket.Load() != polled.socket) {
        return;
      }
      report = Fail(station, polled.socket);
    }
    Send(station, report);
  }

  Report Fail(int station, std::int32_t socket) {
    char address[kAddressCopySize];
    CopyIpAddress(block_->stations[station], address);
    err(kLogOperational, "OxaDOV%.02d: Comms Fail. Station %d IP Addr %s. Closing Socket %d",
        instance_, station, address, socket);
    int rc = win::closesocket(static_cast<win::SOCKET>(socket));
    if (rc != 0) {
      err(kLogOperational,
          "OxaDOV%d: MESSAGES_Thread() Station %d Closing socket failed status = %d", instance_,
          station, rc);
    }
    StationPrivate &link = state_.stations[station];
    link.closePending = true;
    link.closedSocket = socket;
    link.closedConnection = link.connection;
    return StoreClosed(station);
  }

  // Marks the station's socket as gone under the socket-table event. When the event cannot
  // be taken, the closed handle stays in the table until a later pass takes the event;
  // meanwhile nobody touches that handle, which the platform may already have given to a
  // new connection.
  Report StoreClosed(int station) {
    auto event = static_cast<win::HANDLE>(block_->socketTableEvent.Get());
    if (win::WaitForSingleObject(event, kEventWaitMs) != WAIT_OBJECT_0) {
      err(kLogOperational, "OxaDOV%.02d: INCOMING_MESSAGES_Thread() WaitForSingleObject() Failed!",
          instance_);
      return Report::kNone;
    }
    StationPrivate &link = state_.stations[station];
    SharedInt32 &socket = block_->stations[station].socket;
    // Unless another path has connected the station meanwhile, perhaps under the same
    // socket number.
    if (link.connection == link.closedConnection && socket.Load() == link.closedSocket) {
      socket.Store(kNoSocket);
    }
    win::SetEvent(event);
    link.closePending = false;
    watch_[station].failed = true;
    watch_[station].disconnectLogged = false;
    return Report::kFailed;
  }

  // Host calls happen outside the station's lock.
  void Send(int station, Report report) {
    if (report == Report::kNone) return;
    int status = report == Report::kFailed ? 1 : 0;
    HevSetPlcCommStatus(clientId_, static_cast<std::uint8_t>(instance_), station, 1, status);
  }

  InstanceBlock *block_;
  InstancePrivate &state_;
  int instance_;
  std::uint8_t clientId_;
  std::int64_t now_ = 0;
  StationWatch watch_[kStationCount];
};

}  // namespace

void INCOMING_MESSAGES_Thread(void *instanceBlock) {
  auto *block = static_cast<InstanceBlock *>(instanceBlock);
  InstancePrivate &state = PrivateStateOf(block);
  try {
    IncomingMessages(block).Run();
  } catch (...) {
    // Nothing may escape a thread's top function; the re-open thread must still end.
    RaiseStopFlag(block, state);
  }
  ThreadEnded(state);
}
