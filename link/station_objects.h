#pragma once

#include "link/instance_state.h"

// Gives a station that has just connected its packet library objects, if it lacks them,
// and leaves the start packet in its packet object: a type-4 message, then a type-2
// message asking for the configuration. Each failing library call is logged and the
// preparation goes on. False when the station still lacks an object (out of memory, or
// the driver is ending): no connection may be installed without them.
bool EnsureStationObjects(InstancePrivate &state, int station);

// Frees the station's objects (driver end).
void FreeStationObjects(StationLink &link);
