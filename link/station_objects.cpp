#include "link/station_objects.h"

#include "contracts/dov_pakt.h"
#include "contracts/host_runtime.h"
#include "countnet/sampling_packet.h"

namespace {

constexpr int kPacketObjectSize = 500;
constexpr int kMessageObjectSize = 250;

}  // namespace

bool EnsureStationObjects(InstancePrivate &state, int station) {
  DeferredLog failures;
  bool complete = false;
  {
    StationLink::Objects objects(state.stations[station]);
    // Once the driver ends, its end frees the objects; none may be made after that.
    if (StopRequested(state)) return false;
    if (objects.packet() != nullptr && objects.message() != nullptr) return true;
    void *packet = objects.packet();
    void *message = objects.message();
    if (packet == nullptr) packet = pvPktAllocatePacket(kPacketObjectSize);
    if (message == nullptr) message = pvMsgAllocateMessage(kMessageObjectSize);
    complete = packet != nullptr && message != nullptr;
    if (complete) BuildStartPacket(packet, message, state.copy.instance, failures);
    objects.Set(packet, message);  // what was made is kept for the next try
  }
  failures.Flush(kLogOperational);
  if (!complete) {
    err(kLogOperational,
        "OxaDOV%d: PLC %d packet objects could not be made (out of memory); connection closed",
        state.copy.instance, station);
  }
  return complete;
}

void FreeStationObjects(StationLink &link) {
  StationLink::Objects objects(link);
  if (objects.packet() != nullptr) iPktFreePacket(objects.packet());
  if (objects.message() != nullptr) iMsgFreeMessage(objects.message());
  objects.Set(nullptr, nullptr);
}
