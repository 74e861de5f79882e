#include "link/station_objects.h"

#include "contracts/dov_pakt.h"
#include "contracts/host_runtime.h"
#include "countnet/sampling_packet.h"

namespace {

constexpr int kPacketObjectSize = 500;
constexpr int kMessageObjectSize = 250;

}  // namespace

void EnsureStationObjects(InstancePrivate &state, int station) {
  DeferredLog failures;
  {
    StationLink::Objects objects(state.stations[station]);
    // Once the driver ends, its end frees the objects; none may be made after that.
    if (StopRequested(state)) return;
    if (objects.packet() != nullptr && objects.message() != nullptr) return;
    void *packet = objects.packet();
    void *message = objects.message();
    if (packet == nullptr) packet = pvPktAllocatePacket(kPacketObjectSize);
    if (message == nullptr) message = pvMsgAllocateMessage(kMessageObjectSize);
    BuildStartPacket(packet, message, state.copy.instance, failures);
    objects.Set(packet, message);
  }
  failures.Flush(kLogOperational);
}

void FreeStationObjects(StationLink &link) {
  StationLink::Objects objects(link);
  if (objects.packet() != nullptr) iPktFreePacket(objects.packet());
  if (objects.message() != nullptr) iMsgFreeMessage(objects.message());
  objects.Set(nullptr, nullptr);
}
