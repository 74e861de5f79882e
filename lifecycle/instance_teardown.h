// Releasing what a driver instance acquired, shared by driver end and by a cold start
// that cannot complete.
#pragma once

#include "contracts/instance_block.h"
#include "link/instance_state.h"

// How stations are left: driver end says goodbye to each and logs it; a cold start that
// cannot complete closes its connections without a word, as if it had never made them.
enum class Leaving { kSayGoodbye, kQuietly };

// Stops the driver's threads, waits for them to let go of the stations, closes every
// connected station's socket, frees the packet library objects, ends Windows Sockets,
// removes the host client, waits for the threads to end (about 10 s at most in all) and
// closes the socket-table event: each only if cold start acquired it. From its return on,
// nothing of the driver touches the block. False when a thread did not end in time.
bool ReleaseInstance(InstanceBlock *block, InstancePrivate &state,
                     Leaving leaving = Leaving::kSayGoodbye);
