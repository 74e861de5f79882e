// What a driver instance keeps outside its instance block. The block's layout is the
// host's contract and has no room for locks or bookkeeping, so each instance's private
// state lives in a table keyed by the block's address.
//
// Locks, always taken in this order and never held across a host gate, status or wait
// call:
// - a station's link lock guards its socket: connecting, polling, receiving, sending,
//   closing and storing a new value. The driver's threads only try it and pass the
//   station by when it is busy; the host's commands wait for it.
// - a station's objects lock guards its packet and message objects.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "entry/instance_block.h"

struct StationPrivate {
  std::mutex link;
  std::mutex objects;
  // Guarded by link:
  std::uint32_t connection = 0;  // counts stored connections; a reused number is still new
  bool closePending = false;     // closed by the receiving thread, -1 not yet stored
  std::int32_t closedSocket = kNoSocket;
  std::uint32_t closedConnection = 0;
};

// What cold start acquired, so that driver end releases exactly that.
struct Acquired {
  bool client = false;
  bool defaults = false;  // socket fields hold -1 or sockets of ours from here on
  bool winsock = false;
  bool event = false;
};

// The pace of the driver's threads. Only the test suite shortens the start delay, the
// receiving thread's pause before it raises the stop flag, and the re-open thread's walk
// (a full pass over the 256 station entries takes 26.6 s).
struct ThreadTiming {
  int startDelayMs = 2000;
  int stopFlagDelayMs = 1000;
  int reopenStationPauseMs = 100;
  int reopenPassPauseMs = 1000;
};

struct InstancePrivate {
  StationPrivate stations[kStationCount];
  Acquired acquired;
  ThreadTiming timing;

  // Asks the driver's threads to end now: their pauses end early and they leave the
  // stations alone.
  std::mutex stopLock;
  std::condition_variable stopChanged;
  // Written under stopLock so that no pause misses it; read without it on every station
  // check.
  std::atomic<bool> stopRequested{false};
  int threadsRunning = 0;  // guarded by stopLock
  // Set when driver end gave up waiting for a thread: the host may free the block at any
  // moment from then on. Guarded by stopLock.
  bool blockAbandoned = false;
};

// The private state of the instance whose block this is, made on first use.
InstancePrivate &PrivateStateOf(const InstanceBlock *block);

// A fresh private state for an instance that is starting, unless threads of an earlier
// start of the same block are still running (their state then stays). The timing is kept.
InstancePrivate &RenewPrivateState(const InstanceBlock *block);

// Forgets the instance's private state. Only once nothing uses it any more: the host
// may give the same memory to another instance later.
void ReleasePrivateState(const InstanceBlock *block);

void RequestStop(InstancePrivate &state);
// Driver end returns without its threads: nothing may write the block after this.
void AbandonBlock(InstancePrivate &state);
// The receiving thread's last word to the re-open thread, unless the block is abandoned.
void RaiseStopFlag(InstanceBlock *block, InstancePrivate &state);
bool StopRequested(InstancePrivate &state);
// Sleeps for `milliseconds` unless a stop is requested first. False when stopping.
bool PauseUnlessStopping(InstancePrivate &state, int milliseconds);

// Thread bookkeeping: a thread is counted before it starts and uncounts itself as its
// very last action.
void ThreadStarting(InstancePrivate &state);
void ThreadEnded(InstancePrivate &state);
// Waits up to `milliseconds` for every counted thread to end; false on timeout.
bool WaitForThreads(InstancePrivate &state, int milliseconds);

// Stores a socket that has just been connected as the station's, and counts it as a new
// connection. The caller holds the station's link lock.
void StoreConnection(InstanceBlock *block, int station, std::int32_t socket);
