// The TCP link to each station: connecting one station, and bringing up all of them at
// cold start.
#pragma once

#include <cstdint>

#include "entry/instance_block.h"

constexpr unsigned short kStationPort = 1561;

// Connects to the station at `ipAddress`: 1 and the socket in *outSocket when the
// station accepted within the connect settle time, 0 otherwise (*outSocket unchanged).
// The socket stays non-blocking for its whole life.
int InitDOVCh(InstanceBlock *block, const char *ipAddress, std::int32_t *outSocket);

// Starts Windows Sockets and connects every configured station, giving each connected
// one its packet library objects. 1 when at least one station connected.
int InitDOV(InstanceBlock *block);
