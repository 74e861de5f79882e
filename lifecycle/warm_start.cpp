#include "lifecycle/warm_start.h"

#include "entry/host_runtime.h"
#include "entry/instance_private.h"
#include "link/station_objects.h"
#include "link/station_sockets.h"
#include "platform/winapi.h"

namespace {

// Closes the station's socket, whatever it holds. A handle that the receiving thread
// has closed already is not closed again: the number may belong to a new connection.
int CloseStationSocket(InstanceBlock *block, StationPrivate &link, int station) {
  if (link.closePending) return SOCKET_ERROR;
  auto socket = static_cast<win::SOCKET>(block->stations[station].socket.Load());
  return win::closesocket(socket);
}

// Reconnects the station with its link lock held, so that the driver's threads leave it
// alone meanwhile. True when it is connected again.
bool Reconnect(InstanceBlock *block, int station, const char *address) {
  int instance = block->instanceNumber.Get();
  StationPrivate &link = PrivateStateOf(block).stations[station];
  std::lock_guard<std::mutex> lock(link.link);
  int rc = CloseStationSocket(block, link, station);
  if (rc != 0) {
    err(kLogOperational, "OxaDOV%d: WarmStart() PLC %d Closing socket failed status = %d", instance,
        station, rc);
  }
  err(kLogOperational, "OxaDOV%d: WarmStart() reconnecting PLC %d TCP/IP Address %s", instance,
      station, address);
  std::int32_t socket = kNoSocket;
  if (InitDOVCh(block, address, &socket) == 1) {
    StoreConnection(block, station, socket);
    return true;
  }
  block->stations[station].socket.Store(kNoSocket);
  return false;
}

}  // namespace

int WarmStart(CommandBlock *command) {
  auto *params = ParamsOf<WarmStartParams>(command);
  InstanceBlock *block = command->instanceBlock.Get();
  if (params == nullptr || block == nullptr) return kCommandFailed;
  int station = params->station.Get();
  if (station >= kStationCount) return kCommandFailed;  // there is no such station
  int instance = block->instanceNumber.Get();
  char address[kAddressCopySize];
  CopyIpAddress(block->stations[station], address);
  err(kLogOperational, "OxaDOV%d: WarmStart() PLC %d", instance, station);
  if (!Reconnect(block, station, address)) {
    err(kLogOperational, "OxaDOV%d: WarmStart() Failed to reconnect PLC %d TCP/IP Address %s",
        instance, station, address);
    return kCommandFailed;
  }
  EnsureStationObjects(block, station);
  err(kLogOperational, "OxaDOV%d: WarmStart() PLC %d TCP/IP Address %s reconnected successfully",
      instance, station, address);
  return kCommandOk;
}
