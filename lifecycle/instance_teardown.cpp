#include "lifecycle/instance_teardown.h"

#include <chrono>
#include <vector>

#include "contracts/dov_pakt.h"
#include "contracts/host_runtime.h"
#include "countnet/codecs.h"
#include "link/incoming_messages_thread.h"
#include "link/send_packet.h"
#include "link/station_objects.h"
#include "platform/winapi.h"

namespace {

using Clock = std::chrono::steady_clock;

// Driver end waits this long in all for the threads: to let go of the stations, then to
// end once released. The goodbyes between the two waits have a bound of their own and do
// not count against it.
constexpr int kThreadEndTimeoutMs = 10000;
// Every connected station is told goodbye at once, all within this one window.
constexpr int kGoodbyeWindowMs = 2000;
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
  int goodbye = -1;  // its packet among the goodbyes; -1: none (no objects, or a broken link)
  int closeResult = 0;
};

// Puts the goodbye into the station's packet object, ready to go out with the others.
// The threads have let go of the stations, so the objects stay as they are until freed.
void PrepareGoodbye(InstancePrivate &state, int n, Farewell &farewell,
                    std::vector<Outgoing> &goodbyes) {
  StationLink::Send send(state.stations[n]);
  farewell.connected = send.socket() != kNoSocket;
  if (!farewell.connected || send.broken() || send.packet() == nullptr ||
      send.message() == nullptr) {
    return;
  }
  iPktClearPacket(send.packet());
  iMsgClearMessage(send.message());
  vMsgSetMessageType(send.message(), kMessageDriverEnd);
  iPktAddMessage(send.packet(), send.message());
  farewell.goodbye = static_cast<int>(goodbyes.size());
  goodbyes.push_back(PreparePacket(send.socket(), state.copy.addresses[n], send.packet()));
}

// Disconnects the station (after its goodbye went out, or did not) and frees its objects.
// The block's socket field keeps its old value.
void DisconnectStation(InstancePrivate &state, int n, Leaving leaving, Farewell &farewell,
                       const std::vector<Outgoing> &goodbyes) {
  StationLink &link = state.stations[n];
  if (farewell.connected && leaving == Leaving::kSayGoodbye) {
    StationLink::Send send(link);
    win::shutdown(static_cast<win::SOCKET>(send.socket()), kShutdownReceive);
  }
  link.CloseAllRetired();
  farewell.closeResult = link.CloseCurrent();
  FreeStationObjects(link);
  link.Detach();
  if (!farewell.connected || leaving == Leaving::kQuietly) return;
  const char *address = state.copy.addresses[n];
  int instance = state.copy.instance;
  if (farewell.goodbye >= 0) {
    LogSendResult(goodbyes[static_cast<std::size_t>(farewell.goodbye)].result, address);
  }
  err(kLogOperational, "OxaDOV%d: EndOxa() Disconnecting PLC %d TCP/IP Address %s", instance, n,
      address);
  if (farewell.closeResult != 0) {
    err(kLogOperational, "OxaDOV%d: EndOxa() soclose() failed errcode %d PLC %d TCP/IP Address %s",
        instance, farewell.closeResult, n, address);
  }
}

// Says goodbye to every connected station at once, then disconnects them in turn.
void DisconnectStations(InstancePrivate &state, Leaving leaving) {
  std::vector<Farewell> farewells(kStationCount);
  std::vector<Outgoing> goodbyes;
  for (int n = 0; n < kStationCount; ++n) {
    if (leaving == Leaving::kSayGoodbye) {
      PrepareGoodbye(state, n, farewells[static_cast<std::size_t>(n)], goodbyes);
    } else {
      farewells[static_cast<std::size_t>(n)].connected =
          state.stations[n].Current().socket != kNoSocket;
    }
  }
  TransmitTogether(goodbyes, kGoodbyeWindowMs);
  for (int n = 0; n < kStationCount; ++n) {
    DisconnectStation(state, n, leaving, farewells[static_cast<std::size_t>(n)], goodbyes);
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
  // in a host call holds no station, and is not waited for beyond the bound.
  WaitForThreadsToLetGo(state, ThreadsStarted(state), RemainingMs(deadline));
  // Before the defaults the socket fields hold whatever the host left there.
  Clock::time_point goodbyes = Clock::now();
  if (state.acquired.defaults) DisconnectStations(state, leaving);
  deadline += Clock::now() - goodbyes;
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
