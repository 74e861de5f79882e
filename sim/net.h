// Socket steps of a station, on the platform layer so that the simulator runs on Linux
// and under Wine alike.
#pragma once

#include <string>

#include "platform/winapi.h"

namespace sim::net {

// A non-blocking listener on address:port, or INVALID_SOCKET (errorCode then tells why).
win::SOCKET Listen(const std::string &address, unsigned short port, int backlog, int *errorCode);

// True when a station could listen on address:port now: nothing else is bound there
// (errorCode tells why not).
bool AddressFree(const std::string &address, unsigned short port, int *errorCode);

// A non-blocking connection to address:port that completed within timeoutMs, or the
// still pending socket when it did not (INVALID_SOCKET only when no socket could be made
// or the connect failed outright).
win::SOCKET ConnectWithin(const std::string &address, unsigned short port, int timeoutMs);

bool SetNonBlocking(win::SOCKET s);
bool WaitWritable(win::SOCKET s, int timeoutMs);

// "a.b.c.d:port" of the peer of an accepted socket.
std::string PeerText(const win::sockaddr_in &peer);

// An orderly close: FIN first, then the unread input is read away, since closing a
// socket with unread input makes Linux answer with a reset instead.
void CloseOrderly(win::SOCKET s);
// A close that sends a reset (RST): linger on, with a zero timeout.
void CloseWithReset(win::SOCKET s);

}  // namespace sim::net
