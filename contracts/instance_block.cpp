#include "contracts/instance_block.h"

#include <cstring>

void ApplyDefaults(InstanceBlock &block) {
  for (StationEntry &station : block.stations) {
    std::memset(station.ipAddress, 0, sizeof station.ipAddress);
    station.socket.Store(kNoSocket);
    station.packet.Set(nullptr);
    station.message.Set(nullptr);
  }
  block.updateRate.Set(kDefaultUpdateRate);
  for (SharedInt32 &flag : block.channelGateFlags) flag.Store(0);
  block.stopFlag.Store(0);
}

void CopyIpAddress(const StationEntry &station, char *out) {
  std::memset(out, 0, kAddressCopySize);
  for (int i = 0; i < kIpAddressSize - 1 && station.ipAddress[i] != '\0'; ++i) {
    out[i] = station.ipAddress[i];
  }
}
