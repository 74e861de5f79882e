#include "link/station_sockets.h"

#include <cstring>

#include "contracts/host_runtime.h"
#include "link/sampling_config.h"
#include "link/socket_wait.h"
#include "link/station_address.h"
#include "link/station_objects.h"
#include "platform/winapi.h"

namespace {

// A station must accept a connection within this time.
constexpr int kConnectWithinMs = 500;
constexpr win::WORD kWinsockVersion = 0x0101;
constexpr int kShutdownBoth = 2;

// A connect on its way: started, then decided by one wait shared with the others.
struct PendingConnect {
  win::SOCKET socket = INVALID_SOCKET;
  bool decided = false;
  bool connected = false;
  int error = 0;  // why it did not connect, when it was decided so
};

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
// shows an exception (failed, on Windows).
void FinishConnects(PendingConnect *pending, int count, const Deadline &deadline) {
  for (;;) {
    win::fd_set writable, failed;
    win::FdZero(&writable);
    win::FdZero(&failed);
    for (int i = 0; i < count; ++i) {
      if (pending[i].decided) continue;
      win::FdSet(pending[i].socket, &writable);
      win::FdSet(pending[i].socket, &failed);
    }
    if (win::FdCount(&writable) == 0) return;
    int ms = deadline.RemainingMs();
    win::timeval timeout{ms / 1000, (ms % 1000) * 1000};
    if (win::select(0, nullptr, &writable, &failed, &timeout) <= 0) return;
    for (int i = 0; i < count; ++i) {
      if (pending[i].decided) continue;
      if (win::FdIsSet(pending[i].socket, &writable) || win::FdIsSet(pending[i].socket, &failed)) {
        Decide(&pending[i]);
      }
    }
  }
}

// The log line of a connect, and its socket: a connect that did not succeed is closed.
int Conclude(int instance, const char *ipAddress, const PendingConnect &pending,
             std::int32_t *outSocket) {
  if (pending.socket == INVALID_SOCKET) {
    err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Failed to Open Socket for IP Address %s",
        instance, ipAddress);
    return 0;
  }
  if (!pending.connected) {
    err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Failed to connect to IP Address %s", instance,
        ipAddress);
    LogConnectCause(instance, ipAddress, pending);
    win::shutdown(pending.socket, kShutdownBoth);
    win::closesocket(pending.socket);
    return 0;
  }
  auto socket = static_cast<std::int32_t>(pending.socket);
  err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Socket connected. IP %s Socket %d", instance,
      ipAddress, socket);
  *outSocket = socket;
  return 1;
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

int ConnectStation(int instance, const char *ipAddress, std::int32_t *outSocket) {
  PendingConnect pending;
  StartConnect(ipAddress, &pending);
  FinishConnects(&pending, 1, Deadline(kConnectWithinMs));
  return Conclude(instance, ipAddress, pending, outSocket);
}

int InitDOVCh(InstanceBlock *block, const char *ipAddress, std::int32_t *outSocket) {
  return ConnectStation(block->instanceNumber.Get(), ipAddress, outSocket);
}

bool HandOverConnection(InstancePrivate &state, int station, std::int32_t socket,
                        Handover handover) {
  EnsureStationObjects(state, station);
  StationLink &link = state.stations[station];
  bool installed = !StopRequested(state);
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
  PendingConnect pending[kStationCount];
  for (int n = 0; n < kStationCount; ++n) {
    pending[n] = PendingConnect{};
    if (state.copy.addresses[n][0] != '\0')
      StartConnect(state.copy.addresses[n], &pending[n]);
    else
      pending[n].decided = true;
  }
  FinishConnects(pending, kStationCount, Deadline(kConnectWithinMs));
  bool anyConnected = false;
  for (int n = 0; n < kStationCount; ++n) {
    const char *address = state.copy.addresses[n];
    if (address[0] == '\0') continue;
    std::int32_t socket = kNoSocket;
    if (Conclude(instance, address, pending[n], &socket) != 1) {
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
