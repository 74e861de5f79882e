#include "countnet/sampling_config.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "countnet/codecs.h"
#include "countnet/dov_pakt.h"
#include "entry/host_runtime.h"
#include "entry/instance_private.h"
#include "link/send_packet.h"

namespace {

constexpr std::uint16_t kStartSampling = 1;

void LogIfFailed(int rc, const char *format) {
  if (rc < 0) err(kLogOperational, format, rc);
}

void BuildConfigurationPacket(void *packet, void *message, std::uint16_t updateRate) {
  LogIfFailed(iPktClearPacket(packet),
              "DEVADO: SetupSamplingConfig() iPktClearPacket(1) failed rc %d");
  SamplePointConfig config;
  std::memset(&config, 0, sizeof config);
  config.id106Value.Set(static_cast<std::uint32_t>(updateRate) * 100);
  config.id107Value.Set(static_cast<std::uint32_t>(updateRate) * 500);
  LogIfFailed(iMsgClearMessage(message),
              "DEVADO: SetupSamplingConfig() iMsgClearMessage(1) failed rc %d");
  vMsgSetMessageType(message, kMessageSamplePointConfig);
  LogIfFailed(iConfigAddSamplePointConfig(message, &config),
              "DEVADO: SetupSamplingConfig() iConfigAddSamplePointConfig() failed rc %d");
  LogIfFailed(iPktAddMessage(packet, message),
              "DEVADO: SetupSamplingConfig() iPktAddMessage(1) failed rc %d");
  // The control message carries whatever type a cleared message has.
  LogIfFailed(iMsgClearMessage(message),
              "DEVADO: SetupSamplingConfig() iMsgClearMessage(2) failed rc %d");
  LogIfFailed(iCtrlSetCommand(message, kStartSampling, 0),
              "DEVADO: SetupSamplingConfig() iCtrlSetCommand() failed rc %d");
  LogIfFailed(iPktAddMessage(packet, message),
              "DEVADO: SetupSamplingConfig() iPktAddMessage(2) failed rc %d");
}

// The station number at the start of a gate address ("%03u"), if it has one.
bool StationOfAddress(const char *address, unsigned *station) {
  return std::sscanf(address, "%3u", station) == 1;
}

bool IsArmedGateOfStation(const InstanceBlock *block, int gateId, int station, char *address) {
  unsigned char definition[kGateDefinitionSize] = {};
  if (HevGetGateDef(block->clientId, gateId, definition) == kHevNoGateDefinition) return false;
  std::int32_t driverIndex;
  std::memcpy(&driverIndex, definition + kGateDefinitionDriverIndexOffset, 4);
  if (driverIndex != block->instanceNumber.Get() - 1) return false;
  // The address is read with the record's bound, terminated or not.
  std::size_t room = kGateDefinitionSize - kGateDefinitionAddressOffset;
  std::memcpy(address, definition + kGateDefinitionAddressOffset, room);
  address[room] = '\0';
  unsigned addressStation = 0;
  if (!StationOfAddress(address, &addressStation)) return false;
  if ((addressStation & 0xFFFF) != static_cast<unsigned>(station)) return false;
  return address[3] == 'F' || address[3] == 'f';
}

}  // namespace

void SetupSamplingConfig(InstanceBlock *block, int station, const char *tagAddress) {
  StationEntry &entry = block->stations[station];
  StationPrivate &state = PrivateStateOf(block).stations[station];
  char ipAddress[kAddressCopySize];
  CopyIpAddress(entry, ipAddress);
  int sent;
  {
    // The socket must stay the station's while the packet goes out: the driver's threads
    // may close or replace it otherwise.
    std::lock_guard<std::mutex> link(state.link);
    std::int32_t socket = entry.socket.Load();
    if (socket == kNoSocket || state.closePending) {
      err(kLogOperational,
          "DEVADO: SetupSamplingConfig() Could not configure sampling for Tag '%s'. Socket not "
          "connected",
          tagAddress);
      return;
    }
    if (StopRequested(PrivateStateOf(block))) return;  // the driver is ending
    std::lock_guard<std::mutex> objects(state.objects);
    BuildConfigurationPacket(entry.packet.Get(), entry.message.Get(), block->updateRate.Get());
    sent = SendPacket(socket, ipAddress, entry.packet.Get());
  }
  if (sent != 0) {
    err(kLogOperational,
        "DEVADO: SetupSamplingConfig() Configuring sampling for Tag '%s' successful", tagAddress);
  } else {
    err(kLogOperational, "DEVADO: SetupSamplingConfig() Failed to configue sampling for Tag '%s'",
        tagAddress);
  }
}

void RestoreSamplingConfig(InstanceBlock *block, int station) {
  for (int gateId = 0; gateId < kChannelGateFlagCount; ++gateId) {
    if (block->channelGateFlags[gateId].Load() == 0) continue;
    char address[kGateDefinitionSize] = {};
    if (IsArmedGateOfStation(block, gateId, station, address)) {
      SetupSamplingConfig(block, station, address);
    }
  }
}
