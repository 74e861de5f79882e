#include "lifecycle/instance_teardown.h"

#include <chrono>

#include "contracts/dov_pakt.h"
#include "contracts/host_runtime.h"
#include "countnet/codecs.h"
#include "link/incoming_messages_thread.h"
#include "link/send_packet.h"
#include "link/station_objects.h"
#include "platform/winapi.h"

namespace {

using Clock = std::chrono::steady_clock;

// Driver end waits this long in all for the threads: to let go of the stations, then to end.
constexpr int kThreadEndTimeoutMs = 10000;
constexpr int kShutdownReceive = 0;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int ThreadsStarted(const InstancePrivate &state) {
  int count = 0;
  for (win::HANDLE thread : state.threads) count += thread != nullptr ? 1 : 0;
  return count;
}

// What became of one station at the end, for the lines logged afterwards.
struct Farewell {
  bool connected = false;
  bool goodbyeSent = false;  // a station without packet objects gets none
  SendResult goodbye = SendResult::kFailed;
  int closeResult = 0;
};

Farewell SayGoodbyeAndClose(InstancePrivate &state, int n, Leaving leaving) {
  StationLink &link = state.stations[n];
  Farewell farewell;
  {
    StationLink::Send send(link);
    farewell.connected = send.socket() != kNoSocket;
    if (farewell.connected && leaving == Leaving::kSayGoodbye && send.packet() != nullptr &&
        send.message() != nullptr) {
      iPktClearPacket(send.packet());
      iMsgClearMessage(send.message());
      vMsgSetMessageType(send.message(), kMessageDriverEnd);
      iPktAddMessage(send.packet(), send.message());
      farewell.goodbye = TransmitPacket(send.socket(), state.copy.addresses[n], send.packet());
      farewell.goodbyeSent = true;
    }
    if (farewell.connected && leaving == Leaving::kSayGoodbye) {
      win::shutdown(static_cast<win::SOCKET>(send.socket()), kShutdownReceive);
    }
  }
  link.CloseAllRetired();
  farewell.closeResult = link.CloseCurrent();
  return farewell;
}

// Says goodbye to the station and disconnects it, once the threads have let go of it.
// The block's socket field keeps its old value.
void DisconnectStation(InstancePrivate &state, int n, Leaving leaving) {
  Farewell farewell = SayGoodbyeAndClose(state, n, leaving);
  FreeStationObjects(state.stations[n]);
  state.stations[n].Detach();
  if (!farewell.connected || leaving == Leaving::kQuietly) return;
  const char *address = state.copy.addresses[n];
  int instance = state.copy.instance;
  if (farewell.goodbyeSent) LogSendResult(farewell.goodbye, address);
  err(kLogOperational, "OxaDOV%d: EndOxa() Disconnecting PLC %d TCP/IP Address %s", instance, n,
      address);
  if (farewell.closeResult != 0) {
    err(kLogOperational, "OxaDOV%d: EndOxa() soclose() failed errcode %d PLC %d TCP/IP Address %s",
        instance, farewell.closeResult, n, address);
  }
}

// Waits for the threads' real end. A thread that does not end in time (it hangs in a host
// call) is left to itself: it never touches the block again, and the library stays loaded
// for it, since the host may unload it once driver end returns.
bool JoinThreads(InstancePrivate &state, Clock::time_point deadline) {
  bool ended = true;
  for (win::HANDLE &thread : state.threads) {
    if (thread == nullptr) continue;
    auto ms = static_cast<win::DWORD>(RemainingMs(deadline));
    ended = win::WaitForSingleObject(thread, ms) == WAIT_OBJECT_0 && ended;
  }
  if (!ended) {
    AbandonThreads(state);
    win::HMODULE self = nullptr;
    win::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<const char *>(&INCOMING_MESSAGES_Thread), &self);
  }
  for (win::HANDLE &thread : state.threads) {
    if (thread != nullptr) win::CloseHandle(thread);
    thread = nullptr;
  }
  return ended;
}

}  // namespace

bool ReleaseInstance(InstanceBlock *block, InstancePrivate &state, Leaving leaving) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kThreadEndTimeoutMs);
  RequestStop(state);
  // The threads let go of the stations before driver end takes them over; one that hangs
  // in a host call holds no station, and is not waited for beyond the deadline.
  WaitForThreadsToLetGo(state, ThreadsStarted(state), RemainingMs(deadline));
  // Before the defaults the socket fields hold whatever the host left there.
  if (state.acquired.defaults) {
    for (int n = 0; n < kStationCount; ++n) DisconnectStation(state, n, leaving);
  }
  state.acquired.defaults = false;
  if (state.acquired.winsock) win::WSACleanup();
  state.acquired.winsock = false;
  if (state.acquired.client) HevRmClient(block->clientId);
  state.acquired.client = false;
  ReleaseThreads(state);
  bool ended = JoinThreads(state, deadline);
  if (!ended) {
    err(kLogOperational, "OxaDOV%d: EndOxa() driver threads did not end in time",
        block->instanceNumber.Get());
  }
  // No thread waits on the event any more.
  if (state.acquired.event) {
    win::CloseHandle(static_cast<win::HANDLE>(block->socketTableEvent.Get()));
  }
  state.acquired.event = false;
  state.block.Close();
  return ended;
}
