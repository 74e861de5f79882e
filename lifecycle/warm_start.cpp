#include "lifecycle/warm_start.h"

#include "contracts/host_runtime.h"
#include "link/instance_state.h"
#include "link/station_sockets.h"
#include "platform/winapi.h"

int WarmStart(CommandBlock *command) {
  auto *params = ParamsOf<WarmStartParams>(command);
  InstanceBlock *block = command->instanceBlock.Get();
  if (params == nullptr || block == nullptr) return kCommandFailed;
  int station = params->station.Get();
  if (station >= kStationCount) return kCommandFailed;  // there is no such station
  int instance = block->instanceNumber.Get();
  std::shared_ptr<InstancePrivate> running = RunningInstance(block);
  if (!running) {
    err(kLogOperational, "OxaDOV%d: WarmStart() PLC %d refused: the driver is not running",
        instance, station);
    return kCommandFailed;
  }
  InstancePrivate &state = *running;
  char address[kAddressCopySize];
  CopyIpAddress(block->stations[station], address);
  err(kLogOperational, "OxaDOV%d: WarmStart() PLC %d", instance, station);
  // The old connection is retired, for the receiving thread to close: it may be reading
  // it at this moment.
  StationLink &link = state.stations[station];
  if (!link.BeginReplacement()) {
    err(kLogOperational, "OxaDOV%d: WarmStart() PLC %d Closing socket failed status = %d", instance,
        station, SOCKET_ERROR);
  }
  err(kLogOperational, "OxaDOV%d: WarmStart() reconnecting PLC %d TCP/IP Address %s", instance,
      station, address);
  std::int32_t socket = kNoSocket;
  if (ConnectStation(instance, address, &socket) != 1 ||
      !HandOverConnection(state, station, socket, Handover::kReplace)) {
    // The station is left to the re-open thread.
    link.GiveUpReplacement();
    NoteVacancy(state);
    err(kLogOperational, "OxaDOV%d: WarmStart() Failed to reconnect PLC %d TCP/IP Address %s",
        instance, station, address);
    return kCommandFailed;
  }
  err(kLogOperational, "OxaDOV%d: WarmStart() PLC %d TCP/IP Address %s reconnected successfully",
      instance, station, address);
  return kCommandOk;
}
