#include "link/station_sockets.h"

#include <cstring>

#include "entry/host_runtime.h"
#include "entry/instance_private.h"
#include "link/station_address.h"
#include "link/station_objects.h"
#include "platform/winapi.h"

namespace {

// A station must accept a connection within this time.
constexpr win::DWORD kConnectSettleMs = 500;
constexpr win::WORD kWinsockVersion = 0x0101;
constexpr int kShutdownBoth = 2;

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

// A non-blocking connect, then a second one after the settle time: the second succeeds,
// or reports "already connected", only when the station has accepted by then.
bool ConnectWithin500Ms(win::SOCKET s, const char *ipAddress) {
  win::sockaddr_in address;
  if (!StationAddress(ipAddress, &address)) return false;
  auto *name = reinterpret_cast<win::sockaddr *>(&address);
  win::u_long nonBlocking = 1;
  win::ioctlsocket(s, FIONBIO, &nonBlocking);
  win::connect(s, name, sizeof address);
  win::Sleep(kConnectSettleMs);
  if (win::connect(s, name, sizeof address) >= 0) return true;
  return win::WSAGetLastError() == WSAEISCONN;
}

}  // namespace

int InitDOVCh(InstanceBlock *block, const char *ipAddress, std::int32_t *outSocket) {
  int instance = block->instanceNumber.Get();
  win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Failed to Open Socket for IP Address %s",
        instance, ipAddress);
    return 0;
  }
  if (!ConnectWithin500Ms(s, ipAddress)) {
    err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Failed to connect to IP Address %s", instance,
        ipAddress);
    win::shutdown(s, kShutdownBoth);
    win::closesocket(s);
    return 0;
  }
  auto socket = static_cast<std::int32_t>(s);
  err(kLogOperational, "OxaDOV%.02d: InitDOVCh() Socket connected. IP %s Socket %d", instance,
      ipAddress, socket);
  *outSocket = socket;
  return 1;
}

int InitDOV(InstanceBlock *block) {
  int instance = block->instanceNumber.Get();
  win::WSADATA data;
  if (win::WSAStartup(kWinsockVersion, &data) != 0) {
    err(kLogOperational, "OxaDOV%d: InitDOV() Failed to start WINDOWS Sockets !!", instance);
    return 0;
  }
  PrivateStateOf(block).acquired.winsock = true;
  bool anyConnected = false;
  for (int n = 0; n < kStationCount; ++n) {
    StationEntry &station = block->stations[n];
    if (!IsConfigured(station)) continue;
    char address[kAddressCopySize];
    CopyIpAddress(station, address);
    std::int32_t socket = kNoSocket;
    if (InitDOVCh(block, address, &socket) != 1) {
      err(kLogOperational, "OxaDOV%d: InitFms() Failed to connect to PLC %.2d I.P. addr %s",
          instance, n, address);
      continue;
    }
    StoreConnection(block, n, socket);
    anyConnected = true;
    err(kLogOperational, "OxaDOV%d: InitFms() PLC %.2d I.P. %s Socket %d connected successfully",
        instance, n, address, socket);
    EnsureStationObjects(block, n);
  }
  if (!anyConnected) {
    err(kLogOperational, "OxaDOV%d: InitFms() Failed to connect to ANY PLC", instance);
    return 0;
  }
  return 1;
}
