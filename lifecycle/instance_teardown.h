// Releasing what a driver instance acquired, shared by driver end and by a cold start
// that cannot complete.
#pragma once

#include "entry/instance_block.h"
#include "entry/instance_private.h"

// How stations are left: driver end says goodbye to each and logs it; a cold start that
// cannot complete closes its connections without a word, as if it had never made them.
enum class Leaving { kSayGoodbye, kQuietly };

// Stops the driver's threads from touching the stations, closes every connected
// station's socket, frees the packet library objects, ends Windows Sockets, removes the
// host client, waits (about 10 s at most) for the threads to end and closes the
// socket-table event: each only if cold start acquired it. False when a thread did not
// end in time.
bool ReleaseInstance(InstanceBlock *block, InstancePrivate &state,
                     Leaving leaving = Leaving::kSayGoodbye);
