// The TCP link to each station: connecting one station, bringing up all of them at cold
// start, and handing a new connection over to the station.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "contracts/instance_block.h"
#include "link/instance_state.h"
#include "link/socket_wait.h"
#include "platform/winapi.h"

constexpr unsigned short kStationPort = 1561;

// A station must accept a connection within this time.
constexpr int kConnectWithinMs = 500;

// A connect on its way: started, then decided by one wait shared with the others.
struct PendingConnect {
  win::SOCKET socket = INVALID_SOCKET;
  bool decided = false;
  bool connected = false;
  bool waitFailed = false;  // the shared wait itself failed; `error` is its error
  int error = 0;            // why it did not connect, when it was decided so
};

// Connects several stations at once: every connect is started as it is added, then all
// share one window of 500 ms to answer in, and each is concluded in turn. A station that
// is not reachable costs the others nothing but that one window.
class ConnectBatch {
 public:
  explicit ConnectBatch(int instance) : instance_(instance) {}
  ~ConnectBatch();  // closes the sockets of the connects that were not concluded
  ConnectBatch(const ConnectBatch &) = delete;
  ConnectBatch &operator=(const ConnectBatch &) = delete;

  // Starts a connect to the station at `ipAddress` (which must outlive the batch); its index.
  int Add(const char *ipAddress);
  // Waits until every connect is decided or the window has passed.
  void Wait();
  // Waits until some connects are decided, within the same window; false once there is
  // nothing left to wait for. A station that answers can be taken at once, while the
  // others still have the rest of the window.
  bool WaitForSome();
  bool Decided(int i) const { return pending_[static_cast<std::size_t>(i)].decided; }
  // Whether connect i succeeded, before it is concluded.
  bool Connected(int i) const { return pending_[static_cast<std::size_t>(i)].connected; }
  // Connect i's outcome, with the lines of a single connect when `log`: 1 and the socket
  // (the caller's from now on) when the station accepted, 0 otherwise (closed).
  int Conclude(int i, bool log, std::int32_t *outSocket);
  // Hands connect i, still undecided, to the caller instead of closing it, so that a later
  // batch can watch it again (see Adopt). The caller owns its socket from now on.
  PendingConnect Release(int i);
  // Takes over a connect that an earlier batch released: it shares this batch's window as
  // a connect started now would. The system repeats an unanswered connection request
  // about a second after sending it, so a station can be asked again without a new socket.
  int Adopt(const char *ipAddress, const PendingConnect &pending);

 private:
  int instance_;
  std::unique_ptr<Deadline> window_;  // from the first WaitForSome
  std::vector<PendingConnect> pending_;
  std::vector<const char *> addresses_;
};

// Connects to the station at `ipAddress`: a non-blocking connect, then a wait until it is
// decided or 500 ms have passed, with no fixed pause. 1 and the socket in *outSocket when
// the station accepted in time, 0 otherwise (*outSocket unchanged). The socket stays
// non-blocking for its whole life. Logs with the instance's number.
int ConnectStation(int instance, const char *ipAddress, std::int32_t *outSocket);
int InitDOVCh(InstanceBlock *block, const char *ipAddress, std::int32_t *outSocket);

// Starts Windows Sockets and connects every configured station, all at once within one
// shared 500 ms window, then logs them in ascending order and gives each connected one its
// packet library objects. 1 when at least one station connected.
int InitDOV(InstanceBlock *block, InstancePrivate &state);

// Takes the copies the driver's threads work from (instance number, client id, update
// rate, station addresses) and makes the block's station entries the mirror of each
// station's link. Part of InitDOV.
void PrepareInstanceState(InstanceBlock *block, InstancePrivate &state);

enum class Handover {
  kColdStart,  // before any tag exists
  kReplace,    // a warm start: the station's old connection is retired
  kIfVacant,   // the re-open thread: only while the station has no connection
};

// Hands a connection that has just been made over to the station: its packet objects
// first, then the connection itself, then its channel tags armed again, so that nothing
// can use the connection before it is ready. A connection that is not taken (the station
// got another one meanwhile, or the driver is ending) is closed; false then.
bool HandOverConnection(InstancePrivate &state, int station, std::int32_t socket,
                        Handover handover);
