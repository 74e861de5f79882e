#pragma once

#include <cstdint>

enum class SendResult { kSent, kInvalidAddress, kFailed };

// Puts the station's address and the socket into the header of `packet` (a packet library
// object) and sends its whole wire image. Logs nothing, so that it can run while a
// station's send is held; kFailed when not every byte went out.
SendResult TransmitPacket(std::int32_t socket, const char *ipAddress, void *packet);

// The log line of a transmission: sent, failed, or an address that does not convert.
void LogSendResult(SendResult result, const char *ipAddress);

// TransmitPacket, then its log line: 1 when every byte went out, 0 otherwise. The caller
// has checked that the station is connected.
int SendPacket(std::int32_t socket, const char *ipAddress, void *packet);
