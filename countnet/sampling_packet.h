// The packet that tells a station how often to sample, and to start.
#pragma once

#include <cstdint>

#include "countnet/deferred_log.h"

// Fills the station's packet object with a sample point configuration at the update rate
// (field 106 = rate x 100, field 107 = rate x 500) and the start command, built in its
// message object. A failing library call goes to `failures` and the building goes on.
void BuildConfigurationPacket(void *packet, void *message, std::uint16_t updateRate,
                              DeferredLog &failures);

// Fills the packet object with the start packet: a type-4 message, then a type-2 message
// asking for the configuration. A failing call goes to `failures` with the instance number.
void BuildStartPacket(void *packet, void *message, int instance, DeferredLog &failures);
