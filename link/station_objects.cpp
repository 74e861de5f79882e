#include "link/station_objects.h"

#include "countnet/codecs.h"
#include "countnet/dov_pakt.h"
#include "entry/host_runtime.h"
#include "entry/instance_private.h"

namespace {

constexpr int kPacketObjectSize = 500;
constexpr int kMessageObjectSize = 250;

void LogIfFailed(int rc, int instance, const char *format) {
  if (rc < 0) err(kLogOperational, format, instance, rc);
}

void PrepareStartPacket(void *packet, void *message, int instance) {
  LogIfFailed(iPktClearPacket(packet), instance,
              "OxaDOV%d: InitFms() iPktClearPacket() failed. rc = %d");
  LogIfFailed(iMsgClearMessage(message), instance,
              "OxaDOV%d: InitFms() iMsgClearMessage(1) failed. rc = %d");
  vMsgSetMessageType(message, kMessageConnect);
  LogIfFailed(iPktAddMessage(packet, message), instance,
              "OxaDOV%d: InitFms() iPktAddMessage(1) failed. rc = %d");
  LogIfFailed(iMsgClearMessage(message), instance,
              "OxaDOV%d: InitFms() iMsgClearMessage(2) failed. rc = %d");
  vMsgSetMessageType(message, kMessageGetConfig);
  const std::uint16_t sendConfiguration = 1;
  LogIfFailed(iCfgAddGetConfig(message, &sendConfiguration), instance,
              "OxaDOV%d: InitFms() iCfgAddGetConfig() failed. rc = %d");
  LogIfFailed(iPktAddMessage(packet, message), instance,
              "OxaDOV%d: InitFms() iPktAddMessage(2) failed. rc = %d");
}

}  // namespace

void EnsureStationObjects(InstanceBlock *block, int station) {
  StationEntry &entry = block->stations[station];
  InstancePrivate &state = PrivateStateOf(block);
  std::lock_guard<std::mutex> guard(state.stations[station].objects);
  // Once the driver ends, its end frees the objects; none may be made after that.
  if (StopRequested(state)) return;
  if (entry.packet.Get() != nullptr && entry.message.Get() != nullptr) return;
  if (entry.packet.Get() == nullptr) entry.packet.Set(pvPktAllocatePacket(kPacketObjectSize));
  if (entry.message.Get() == nullptr) {
    entry.message.Set(pvMsgAllocateMessage(kMessageObjectSize));
  }
  PrepareStartPacket(entry.packet.Get(), entry.message.Get(), block->instanceNumber.Get());
}
