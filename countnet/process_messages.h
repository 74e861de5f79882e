// Incoming packets: one packet read from a station, its messages walked and acted upon.
#pragma once

#include <cstdint>

#include "entry/instance_block.h"

// Reads one packet from the station's socket and handles its messages: configuration
// information and status are logged, sample data becomes normalized differential counts
// in the station's channel gates and its air-flow gate. Returns 1 when the packet held a
// sample-data message, else 0.
//
// *linkLost (when given) tells whether the stream can still be trusted: it becomes true
// when the station closed or reset the connection, a receive failed, or the bytes were
// not a whole, well-formed packet in time. The caller then treats the station as failed.
//
// The connection that the caller found readable: its socket and the station's connection
// count at the time. A warm start may close that socket and get the same number back for
// the next connection, so the number alone does not name a connection.
struct PolledLink {
  std::int32_t socket;
  std::uint32_t connection;
};

// The packet is read under the station's link lock; when the station is busy (a warm start
// holds it), the instance is ending, or the station's connection is no longer `polled`
// (when given), nothing is read and 0 is returned.
int ProcessMessages(InstanceBlock *block, std::uint16_t station, bool *linkLost = nullptr,
                    const PolledLink *polled = nullptr);

// Handles the messages of a packet that is already in `packet` (a received wire image).
// Returns 1 when it held a sample-data message.
int HandlePacket(InstanceBlock *block, std::uint16_t station, unsigned char *packet);
