// Releasing what a driver instance acquired, shared by driver end and by a cold start
// that cannot complete.
#pragma once

#include "entry/instance_block.h"
#include "entry/instance_private.h"

// Stops the driver's threads from touching the stations, says goodbye to every connected
// station and closes its socket, frees the packet library objects, ends Windows Sockets,
// removes the host client, waits (about 10 s at most) for the threads to end and closes
// the socket-table event: each only if cold start acquired it. False when a thread did
// not end in time.
bool ReleaseInstance(InstanceBlock *block, InstancePrivate &state);
