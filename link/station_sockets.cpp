#include "link/station_sockets.h"

#include <cstring>

#include "contracts/host_runtime.h"
#include "link/sampling_config.h"
#include "link/socket_wait.h"
#include "link/station_address.h"
#include "link/station_objects.h"
#include "platform/winapi.h"

namespace {

constexpr win::WORD kWinsockVersion = 0x0101;

// False for text that is no station address: it would otherwise become some other
// address (the broadcast address, for one).
bool StationAddress(const char *ipAddress, win::sockaddr_in *address) {
  std::memset(address, 0, sizeof *address);
  address->sin_family = AF_INET;
  address->sin_port = win::htons(kStationPort);
  std::uint32_t networkOrder = 0;
  if (!ParseStationAddress(ipAddress, &networkOrder)) return false;
  address->sin_addr.s_addr = networkOrder;
  return true;
}

void StartConnect(const char *ipAddress, PendingConnect *pending) {
  pending->socket = win::socket(AF_INET, SOCK_STREAM, 0);
  if (pending->socket == INVALID_SOCKET) {
    pending->decided = true;
    return;
  }
  win::u_long nonBlocking = 1;
  win::ioctlsocket(pending->socket, FIONBIO, &nonBlocking);
  win::sockaddr_in address;
  if (!StationAddress(ipAddress, &address)) {
    pending->decided = true;
    return;
  }
  int rc =
      win::connect(pending->socket, reinterpret_cast<win::sockaddr *>(&address), sizeof address);
  int error = rc == 0 ? 0 : win::WSAGetLastError();
  if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEALREADY) return;
  pending->decided = true;
  pending->connected = rc == 0;
  pending->error = error;
}

// The outcome of a connect that the wait reported: its pending error.
void Decide(PendingConnect *pending) {
  int error = 0;
  int length = sizeof error;
  int rc = win::getsockopt(pending->socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error),
                           &length);
  pending->decided = true;
  pending->connected = rc == 0 && error == 0;
  pending->error = rc == 0 ? error : win::WSAGetLastError();
}

// Why a connect did not succeed, for the detail line that follows the failure: the host's
// operators tell a station that is off (no answer) from one that runs no service (refused).
void LogConnectCause(int instance, const char *ipAddress, const PendingConnect &pending) {
  if (!pending.decided) {
    err(kLogDetail, "OxaDOV%.02d: InitDOVCh() IP Address %s did not answer within %d ms", instance,
        ipAddress, kConnectWithinMs);
  } else if (pending.waitFailed) {
    err(kLogDetail,
        "OxaDOV%.02d: InitDOVCh() IP Address %s: the wait for the connection failed (socket "
        "error %d)",
        instance, ipAddress, pending.error);
  } else if (pending.error == WSAECONNREFUSED) {
    err(kLogDetail, "OxaDOV%.02d: InitDOVCh() IP Address %s refused the connection", instance,
        ipAddress);
  } else {
    err(kLogDetail, "OxaDOV%.02d: InitDOVCh() IP Address %s could not be reached (socket error %d)",
        instance, ipAddress, pending.error);
  }
}

// One wait over every undecided connect until all are decided or the deadline passes.
// A connect is decided when its socket turns writable (connected, or failed on POSIX) or
// shows an exception (failed, on Windows). A wait that fails decides every connect still
// open as failed, with the wait's error: none of them can be told apart any more. With
// `some`, it returns as soon as one wait has decided anything; false once nothing is left
// to wait for (all decided, or the deadline passed).
bool FinishConnects(std::vector<PendingConnect> &pending, const Deadline &deadline,
                    bool some = false) {
  for (;;) {
    win::fd_set writable, failed;
    win::FdZero(&writable);
    win::FdZero(&failed);
    for (const PendingConnect &p : pending) {
      if (p.decided) continue;
      win::FdSet(p.socket, &writable);
      win::FdSet(p.socket, &failed);
    }
    if (win::FdCount(&writable) == 0) return false;
    int ms = deadline.RemainingMs();
    win::timeval timeout{ms / 1000, (ms % 1000) * 1000};
    int rc = win::select(0, nullptr, &writable, &failed, &timeout);
    if (rc == 0) return false;
    if (rc < 0) {
      int error = win::WSAGetLastError();
      for (PendingConnect &p : pending) {
        if (p.decided) continue;
        p.decided = true;
        p.waitFailed = true;
        p.error = error;
      }
      return false;
    }
    for (PendingConnect &p : pending) {
      if (p.decided) continue;
      if (win::FdIsSet(p.socket, &writable) || win::FdIsSet(p.socket, &failed)) Decide(&p);
    }
    if (some) return true;
  }
}

}  // namespace

void PrepareInstanceState(InstanceBlock *block, InstancePrivate &state) {
  InstanceCopy &copy = state.copy;
  copy.instance = block->instanceNumber.Get();
  copy.clientId = block->clientId;
  copy.updateRate = block->updateRate.Get();
  for (int n = 0; n < kStationCount; ++n) {
    CopyIpAddress(block->stations[n], copy.addresses[n]);
    state.stations[n].Attach(&block->stations[n]);
  }
  state.block.Open(block);
}

ConnectBatch::~ConnectBatch() {
  for (PendingConnect &p : pending_) {
    if (p.socket != INVALID_SOCKET) win::closesocket(p.socket);
  }
}

int ConnectBatch::Add(const char *ipAddress) {
  addresses_.push_back(ipAddress);
  pending_.emplace_back();
  StartConnect(ipAddress, &pending_.back());
  return static_cast<int>(pending_.size()) - 1;
}

void ConnectBatch::Wait() {
  FinishConnects(pending_, Deadline(kConnectWithinMs));
}

bool ConnectBatch::WaitForSome() {
  if (!window_) window_ = std::make_unique<Deadline>(kConnectWithinMs);
  return FinishConnects(pending_, *window_, true);
}

// The log lines of a connect, and its socket: a connect that did not succeed is closed.
int ConnectBatch::Conclude(int i, bool log, std::int32_t *outSocket) {
  PendingConnect &pending = pending_[static_cast<std::size_t>(i)];
  const char *ipAddress = addresses_[static_cast<std::size_t>(i)];
  if (pending.socket == INVALID_SOCKET) {
    if (log) {
      err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Failed to Open Socket for IP Address %s",
          instance_, ipAddress);
    }
    return 0;
  }
  if (!pending.connected) {
    if (log) {
      err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Failed to connect to IP Address %s", instance_,
          ipAddress);
      LogConnectCause(instance_, ipAddress, pending);
    }
    // Nothing was connected, so there is nothing to shut down: closing withdraws the request.
    win::closesocket(pending.socket);
    pending.socket = INVALID_SOCKET;
    return 0;
  }
  auto socket = static_cast<std::int32_t>(pending.socket);
  pending.socket = INVALID_SOCKET;  // the caller's from now on
  if (log) {
    err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Socket connected. IP %s Socket %d", instance_,
        ipAddress, socket);
  }
  *outSocket = socket;
  return 1;
}

PendingConnect ConnectBatch::Release(int i) {
  PendingConnect &pending = pending_[static_cast<std::size_t>(i)];
  PendingConnect released = pending;
  pending.socket = INVALID_SOCKET;
  pending.decided = true;  // no longer waited for here
  return released;
}

int ConnectBatch::Adopt(const char *ipAddress, const PendingConnect &pending) {
  addresses_.push_back(ipAddress);
  pending_.push_back(pending);
  return static_cast<int>(pending_.size()) - 1;
}

int ConnectStation(int instance, const char *ipAddress, std::int32_t *outSocket) {
  ConnectBatch batch(instance);
  batch.Add(ipAddress);
  batch.Wait();
  return batch.Conclude(0, true, outSocket);
}

int InitDOVCh(InstanceBlock *block, const char *ipAddress, std::int32_t *outSocket) {
  return ConnectStation(block->instanceNumber.Get(), ipAddress, outSocket);
}

bool HandOverConnection(InstancePrivate &state, int station, std::int32_t socket,
                        Handover handover) {
  // A connection without its packet objects would be used by the senders all the same.
  StationLink &link = state.stations[station];
  bool installed = EnsureStationObjects(state, station) && !StopRequested(state);
  if (installed && handover != Handover::kIfVacant) {
    link.Install(socket);
  } else if (installed) {
    installed = link.InstallIfVacant(socket);
  }
  if (!installed) {
    win::closesocket(static_cast<win::SOCKET>(socket));
    return false;
  }
  // At cold start no tag exists yet: there is nothing to arm.
  if (handover != Handover::kColdStart) RestoreSamplingConfig(state, station);
  return true;
}

int InitDOV(InstanceBlock *block, InstancePrivate &state) {
  PrepareInstanceState(block, state);
  int instance = state.copy.instance;
  win::WSADATA data;
  if (win::WSAStartup(kWinsockVersion, &data) != 0) {
    err(kLogOperational, "OxaDOV%d: InitDOV() Failed to start WINDOWS Sockets !!", instance);
    return 0;
  }
  state.acquired.winsock = true;
  // Every station gets its connect at once and all share one window to answer in.
  ConnectBatch batch(instance);
  int attempt[kStationCount];
  for (int n = 0; n < kStationCount; ++n) {
    attempt[n] = state.copy.addresses[n][0] != '\0' ? batch.Add(state.copy.addresses[n]) : -1;
  }
  batch.Wait();
  bool anyConnected = false;
  for (int n = 0; n < kStationCount; ++n) {
    if (attempt[n] < 0) continue;
    const char *address = state.copy.addresses[n];
    std::int32_t socket = kNoSocket;
    if (batch.Conclude(attempt[n], true, &socket) != 1) {
      err(kLogOperational, "OxaDOV%d: InitFms() Failed to connect to PLC %.2d I.P. addr %s",
          instance, n, address);
      continue;
    }
    anyConnected = true;
    err(kLogOperational, "OxaDOV%d: InitFms() PLC %.2d I.P. %s Socket %d connected successfully",
        instance, n, address, socket);
    HandOverConnection(state, n, socket, Handover::kColdStart);
  }
  if (!anyConnected) {
    err(kLogOperational, "OxaDOV%d: InitFms() Failed to connect to ANY PLC", instance);
    return 0;
  }
  return 1;
}
