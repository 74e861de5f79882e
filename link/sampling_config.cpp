#include "link/sampling_config.h"

#include <bitset>
#include <cstdio>
#include <cstring>
#include <memory>

#include "contracts/host_runtime.h"
#include "countnet/sampling_packet.h"
#include "link/send_packet.h"

namespace {

enum class Outcome { kNotConnected, kStopping, kTransmitted };

// The station number at the start of a gate address ("%03u"), if it has one.
bool StationOfAddress(const char *address, unsigned *station) {
  return std::sscanf(address, "%3u", station) == 1;
}

bool IsArmedGateOfStation(const InstanceCopy &copy, int gateId, int station, char *address) {
  unsigned char definition[kGateDefinitionSize] = {};
  if (HevGetGateDef(copy.clientId, gateId, definition) == kHevNoGateDefinition) return false;
  std::int32_t driverIndex;
  std::memcpy(&driverIndex, definition + kGateDefinitionDriverIndexOffset, 4);
  if (driverIndex != copy.instance - 1) return false;
  // The address is read with the record's bound, terminated or not.
  std::size_t room = kGateDefinitionSize - kGateDefinitionAddressOffset;
  std::memcpy(address, definition + kGateDefinitionAddressOffset, room);
  address[room] = '\0';
  unsigned addressStation = 0;
  if (!StationOfAddress(address, &addressStation)) return false;
  if ((addressStation & 0xFFFF) != static_cast<unsigned>(station)) return false;
  return address[3] == 'F' || address[3] == 'f';
}

// Builds and sends the packet with the station's objects, on its current connection.
Outcome SendConfiguration(InstancePrivate &state, int station, DeferredLog &lines,
                          SendResult *result) {
  StationLink::Send send(state.stations[station]);
  if (send.socket() == kNoSocket || send.broken()) return Outcome::kNotConnected;
  if (StopRequested(state)) return Outcome::kStopping;
  BuildConfigurationPacket(send.packet(), send.message(), state.copy.updateRate, lines);
  *result = TransmitPacket(send.socket(), state.copy.addresses[station], send.packet());
  if (*result != SendResult::kSent) send.Broken();
  return Outcome::kTransmitted;
}

}  // namespace

void SetupSamplingConfig(InstancePrivate &state, int station, const char *tagAddress) {
  DeferredLog lines;
  SendResult result = SendResult::kFailed;
  Outcome outcome = SendConfiguration(state, station, lines, &result);
  if (outcome == Outcome::kStopping) return;  // the driver is ending
  if (outcome == Outcome::kNotConnected) {
    err(kLogOperational,
        "DEVADO: SetupSamplingConfig() Could not configure sampling for Tag '%s'. Socket not "
        "connected",
        tagAddress);
    return;
  }
  lines.Flush(kLogOperational);
  LogSendResult(result, state.copy.addresses[station]);
  if (result == SendResult::kSent) {
    err(kLogOperational,
        "DEVADO: SetupSamplingConfig() Configuring sampling for Tag '%s' successful", tagAddress);
  } else {
    err(kLogOperational, "DEVADO: SetupSamplingConfig() Failed to configue sampling for Tag '%s'",
        tagAddress);
  }
}

void SetupSamplingConfig(InstanceBlock *block, int station, const char *tagAddress) {
  std::shared_ptr<InstancePrivate> state = FindPrivateState(block);
  if (state) SetupSamplingConfig(*state, station, tagAddress);
}

void RestoreSamplingConfig(InstancePrivate &state, int station) {
  // The flags are read at once, so that the block is held only for a moment.
  auto armed = std::make_unique<std::bitset<kChannelGateFlagCount>>();
  bool open = state.block.With([&](InstanceBlock &block) {
    for (int gateId = 0; gateId < kChannelGateFlagCount; ++gateId) {
      if (block.channelGateFlags[gateId].Load() != 0) armed->set(static_cast<std::size_t>(gateId));
    }
  });
  if (!open) return;
  for (int gateId = 0; gateId < kChannelGateFlagCount && !StopRequested(state); ++gateId) {
    if (!armed->test(static_cast<std::size_t>(gateId))) continue;
    char address[kGateDefinitionSize] = {};
    if (IsArmedGateOfStation(state.copy, gateId, station, address) && !StopRequested(state)) {
      SetupSamplingConfig(state, station, address);
    }
  }
}
