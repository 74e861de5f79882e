#include "lifecycle/instance_teardown.h"

#include "countnet/codecs.h"
#include "countnet/dov_pakt.h"
#include "entry/host_runtime.h"
#include "link/send_packet.h"
#include "platform/winapi.h"

namespace {

constexpr int kThreadEndTimeoutMs = 10000;
constexpr int kShutdownReceive = 0;

void SayGoodbye(StationEntry &entry, std::int32_t socket, const char *address) {
  void *packet = entry.packet.Get();
  void *message = entry.message.Get();
  if (packet == nullptr || message == nullptr) return;
  iPktClearPacket(packet);
  iMsgClearMessage(message);
  vMsgSetMessageType(message, kMessageDriverEnd);
  iPktAddMessage(packet, message);
  SendPacket(socket, address, packet);
}

void FreeObjects(StationEntry &entry) {
  if (entry.packet.Get() != nullptr) {
    iPktFreePacket(entry.packet.Get());
    entry.packet.Set(nullptr);
  }
  if (entry.message.Get() != nullptr) {
    iMsgFreeMessage(entry.message.Get());
    entry.message.Set(nullptr);
  }
}

// Waits for whatever a driver thread is doing with the station, then disconnects it.
// The socket field keeps its old value.
void DisconnectStation(InstanceBlock *block, InstancePrivate &state, int n, Leaving leaving) {
  StationEntry &entry = block->stations[n];
  StationPrivate &station = state.stations[n];
  std::lock_guard<std::mutex> link(station.link);
  std::lock_guard<std::mutex> objects(station.objects);
  std::int32_t socket = entry.socket.Load();
  // A handle that the receiving thread closed already is not ours to close again.
  if (socket != kNoSocket && !station.closePending && leaving == Leaving::kQuietly) {
    win::closesocket(static_cast<win::SOCKET>(socket));
  } else if (socket != kNoSocket && !station.closePending) {
    int instance = block->instanceNumber.Get();
    char address[kAddressCopySize];
    CopyIpAddress(entry, address);
    SayGoodbye(entry, socket, address);
    err(kLogOperational, "OxaDOV%d: EndOxa() Disconnecting PLC %d TCP/IP Address %s", instance, n,
        address);
    auto s = static_cast<win::SOCKET>(socket);
    win::shutdown(s, kShutdownReceive);
    int rc = win::closesocket(s);
    if (rc != 0) {
      err(kLogOperational,
          "OxaDOV%d: EndOxa() soclose() failed errcode %d PLC %d TCP/IP Address %s", instance, rc,
          n, address);
    }
  }
  FreeObjects(entry);
}

}  // namespace

bool ReleaseInstance(InstanceBlock *block, InstancePrivate &state, Leaving leaving) {
  RequestStop(state);
  // Before the defaults the socket fields hold whatever the host left there.
  if (state.acquired.defaults) {
    for (int n = 0; n < kStationCount; ++n) DisconnectStation(block, state, n, leaving);
  }
  state.acquired.defaults = false;  // the fields keep sockets that are closed now
  if (state.acquired.winsock) win::WSACleanup();
  state.acquired.winsock = false;
  if (state.acquired.client) HevRmClient(block->clientId);
  state.acquired.client = false;
  bool ended = WaitForThreads(state, kThreadEndTimeoutMs);
  if (!ended) {
    AbandonBlock(state);
    err(kLogOperational, "OxaDOV%d: EndOxa() driver threads did not end in time",
        block->instanceNumber.Get());
  }
  // A thread that is still running may yet wait on the event, and a closed handle's value
  // may be reused: it stays open then, one handle lost rather than a wrong one waited on.
  if (state.acquired.event && ended) {
    win::CloseHandle(static_cast<win::HANDLE>(block->socketTableEvent.Get()));
  }
  state.acquired.event = false;
  return ended;
}
