#pragma once

#include <cstdint>

// Sends the whole wire image of `packet` (a packet library object) on a station's
// socket: 1 when every byte went out, 0 otherwise. The caller has checked that the
// station is connected.
int SendPacket(std::int32_t socket, const char *ipAddress, void *packet);
