// A packet a station sent, its messages walked and acted upon: configuration information
// and status are logged, sample data becomes normalized differential counts in the
// station's channel gates and its air-flow gate.
#pragma once

#include <atomic>
#include <cstdint>

// Whose gates the values go to, and when to leave off.
struct PacketContext {
  std::uint8_t clientId;
  int instance;
  // Looked at after every host call: once it is true, the rest of the packet is dropped.
  const std::atomic<bool> *stop;
};

// Handles the messages of a whole packet (a received wire image). Returns 1 when it held
// a sample-data message, else 0.
int HandlePacket(const PacketContext &context, std::uint16_t station, const unsigned char *packet);
