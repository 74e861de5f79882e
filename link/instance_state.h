// What a driver instance keeps outside its instance block. The block's layout is the
// host's contract and has no room for locks or bookkeeping, so each instance's private
// state lives in a table keyed by the block's address; the block's packed fields only
// mirror what is kept here. Only the host's commands look the state up by the block;
// each driver thread is handed an owning reference when it is started.
//
// The driver's threads work from this state and from copies taken at cold start, never
// from the block itself, except through BlockAccess: driver end may have to give up on a
// thread that hangs in a host call, and the host frees the block once driver end returns.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "contracts/instance_block.h"
#include "link/station_link.h"
#include "platform/lock.h"
#include "platform/winapi.h"

// What cold start acquired, so that driver end releases exactly that.
struct Acquired {
  bool client = false;
  bool defaults = false;  // socket fields hold -1 or sockets of ours from here on
  bool winsock = false;
  bool event = false;
};

// The pace of the driver's threads. Only the test suite shortens the start delay, the
// receiving thread's pause before it raises the stop flag, and the re-open thread's pace.
struct ThreadTiming {
  int startDelayMs = 2000;
  int stopFlagDelayMs = 1000;
  // A station whose connect failed is tried again after this pause...
  int reopenRetryMs = 1000;
  // ...but its attempts are logged at most this often, the pace of the station walk the
  // host's log has always known (256 entries of 100 ms, and a pause of 1 s).
  int reopenLogEveryMs = 26600;
};

// The init file's settings and the host's numbers, as cold start found them.
struct InstanceCopy {
  int instance = 0;
  std::uint8_t clientId = 0;
  std::uint16_t updateRate = kDefaultUpdateRate;
  char addresses[kStationCount][kAddressCopySize] = {};  // empty: not configured
};

// The block, for as long as the driver may still touch it.
class BlockAccess {
 public:
  void Open(InstanceBlock *block);
  // From now on nothing of the driver reads or writes the block.
  void Close();
  // Runs `use` with the block unless it is closed; false when it is. `use` must not make
  // a host call.
  template <typename Use>
  bool With(Use use) {
    std::lock_guard<std::mutex> guard(lock_);
    if (block_ == nullptr) return false;
    use(*block_);
    return true;
  }

 private:
  win::Lock lock_;
  InstanceBlock *block_ = nullptr;
};

constexpr int kDriverThreads = 2;

// Where an instance stands. Only the host's commands change it, on the host's thread: a
// cold start makes it running, driver end takes it through ending to ended. A failed
// cold start leaves it ended.
enum class InstancePhase { kNotStarted, kRunning, kEnding, kEnded };

struct InstancePrivate {
  InstancePrivate() {
    for (StationLink &link : stations) link.ReportChangesTo(&linkChanges);
  }

  std::atomic<InstancePhase> phase{InstancePhase::kNotStarted};
  StationLink stations[kStationCount];
  // Written by the receiving thread alone: for a station it failed, the connections since
  // on which the station sent nothing. While it is nonzero, a reconnection is an attempt,
  // not yet the station's recovery.
  std::atomic<std::uint32_t> silentConnections[kStationCount]{};
  // Moves on with every change of any station's link: while it stands still, a look at
  // each link would only repeat the last one.
  std::atomic<std::uint32_t> linkChanges{0};
  InstanceCopy copy;
  Acquired acquired;
  ThreadTiming timing;
  BlockAccess block;

  // The stop signal is the only way a driver thread is told to end. Once it is raised the
  // threads leave the stations alone and wait to be released; driver end releases them
  // after it has said goodbye to the stations.
  win::Lock stopLock;
  std::condition_variable stopChanged;
  std::atomic<bool> stopRequested{false};
  bool released = false;  // guarded by stopLock
  // Driver end gave up waiting for a thread: the host may free the block at any moment,
  // and the library stays loaded for the thread's sake. Guarded by stopLock.
  bool abandoned = false;
  // Held by a released thread across its last host calls, so that driver end cannot give
  // the thread up between its look at `abandoned` and the call. Taken before stopLock.
  win::Lock hostGate;
  int threadsWaiting = 0;  // guarded by stopLock: threads that let go of the stations
  // Counts the connections lost while running (guarded by stopLock), so that the re-open
  // thread can sleep through stations that need nothing and still wake for one that does.
  std::uint32_t vacancies = 0;
  win::HANDLE threads[kDriverThreads] = {};
};

// The private state of the instance whose block this is; null when it has none. A look-up
// never makes one.
std::shared_ptr<InstancePrivate> FindPrivateState(const InstanceBlock *block);
// The same, only while the instance is running.
std::shared_ptr<InstancePrivate> RunningInstance(const InstanceBlock *block);

// A fresh private state for an instance that is starting. Threads left over from an
// earlier start of the same block keep their own. The timing is kept.
InstancePrivate &RenewPrivateState(const InstanceBlock *block);

// The pace the instance's threads will keep, for a cold start still to come: the test
// suite shortens it. Makes a state that is not started when the block has none.
ThreadTiming &PresetTiming(const InstanceBlock *block);

// Forgets the instance's private state; a thread that still runs keeps it for itself.
void ReleasePrivateState(const InstanceBlock *block);

// What a driver thread is started with: a reference of its own to its instance's state,
// which the thread takes over with TakeThreadState (and which cold start takes back when
// the thread cannot be started).
void *ThreadArgumentFor(const std::shared_ptr<InstancePrivate> &state);
std::shared_ptr<InstancePrivate> TakeThreadState(void *argument);

// ---- the stop signal ----
void RequestStop(InstancePrivate &state);
bool StopRequested(const InstancePrivate &state);
// Sleeps for `milliseconds` unless a stop is requested first. False when stopping.
bool PauseUnlessStopping(InstancePrivate &state, int milliseconds);

// ---- stations that lost their connection ----
// A station's connection was retired and none replaces it yet.
void NoteVacancy(InstancePrivate &state);
std::uint32_t Vacancies(InstancePrivate &state);
// Sleeps until `deadline`, a stop, or a vacancy after the count `seen`.
void WaitForVacancy(InstancePrivate &state, std::uint32_t seen,
                    std::chrono::steady_clock::time_point deadline);
// A thread has let go of the stations; waits until driver end releases it. The release
// may come after the pause the thread still owes before its last line.
void WaitForRelease(InstancePrivate &state);
// Driver end: waits up to `milliseconds` for `count` threads to let go of the stations.
bool WaitForThreadsToLetGo(InstancePrivate &state, int count, int milliseconds);
void ReleaseThreads(InstancePrivate &state);
// Driver end gives up on threads that did not end in time (they are released too). No
// host call of theirs begins after this returns.
void AbandonThreads(InstancePrivate &state);
bool Abandoned(InstancePrivate &state);
// A released thread's last host calls: made unless driver end has given the thread up,
// and never begun once it has. False when they were not made.
template <typename Calls>
bool CallHostUnlessAbandoned(InstancePrivate &state, Calls calls) {
  std::lock_guard<std::mutex> gate(state.hostGate);
  if (Abandoned(state)) return false;
  calls();
  return true;
}
