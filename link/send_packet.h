#pragma once

#include <cstdint>
#include <vector>

#include "contracts/instance_block.h"

enum class SendResult { kSent, kInvalidAddress, kFailed };

// Puts the station's address and the socket into the header of `packet` (a packet library
// object) and sends its whole wire image. Logs nothing, so that it can run while a
// station's send is held; kFailed when not every byte went out.
SendResult TransmitPacket(std::int32_t socket, const char *ipAddress, void *packet);

// One packet among several that go out together (the goodbyes at driver end).
struct Outgoing {
  std::int32_t socket = kNoSocket;
  const char *bytes = nullptr;
  int length = 0;
  int sent = 0;
  SendResult result = SendResult::kFailed;  // kInvalidAddress stays; kSent once all went out
};

// Readies `packet` for the station as TransmitPacket does, without sending it.
Outgoing PreparePacket(std::int32_t socket, const char *ipAddress, void *packet);

// Sends all the packets at once, within one shared window of `windowMs`: a station that
// does not read holds up none of the others, and all of them together cost that window
// at most. Each packet's result says whether it went out whole.
void TransmitTogether(std::vector<Outgoing> &packets, int windowMs);

// The log line of a transmission: sent, failed, or an address that does not convert.
void LogSendResult(SendResult result, const char *ipAddress);

// TransmitPacket, then its log line: 1 when every byte went out, 0 otherwise. The caller
// has checked that the station is connected.
int SendPacket(std::int32_t socket, const char *ipAddress, void *packet);
