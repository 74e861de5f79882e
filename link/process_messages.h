// Receiving from one station: what its connection delivers is collected in the station's
// own buffer, and every complete packet in it is handled, without ever waiting for the
// rest of a packet that is still arriving.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "countnet/packet_frame.h"
#include "countnet/packet_handler.h"
#include "platform/winapi.h"

// Bytes received from one connection and not yet taken as packets.
class StationStream {
 public:
  using Clock = std::chrono::steady_clock;

  // For a new connection: nothing received yet.
  void Reset();
  // True when complete packets are waiting in the buffer.
  bool HasPacket() const;

 private:
  friend struct ProcessMessagesStep;
  // Room for one whole packet behind the start of another.
  unsigned char bytes_[2 * kPacketBufferSize];
  std::size_t used_ = 0;
  Clock::time_point partialSince_{};  // when the packet at the front began to arrive
};

struct Received {
  bool data = false;      // bytes arrived (or the connection's end)
  bool linkLost = false;  // closed, reset, failed, corrupt or stalled: the link must fail
  int packets = 0;        // packets handled
  int samples = 0;        // of them, packets with sample data
};

// A packet that has begun arriving must be complete within this time; after that the
// stream can no longer be trusted to be at a packet boundary.
constexpr int kPacketCompleteWithinMs = 2000;

// Reads what `socket` holds (in as few receives as the buffer allows) and handles up to
// `maxPackets` complete packets. A corrupt stream is logged ("Countnet Sent Corrupt
// Packet"; a wrong magic is dropped without a word) and reported as a lost link. Stops as
// soon as the context's stop is raised.
Received ProcessMessages(const PacketContext &context, std::uint16_t station, win::SOCKET socket,
                         StationStream &stream, int maxPackets,
                         StationStream::Clock::time_point now = StationStream::Clock::now());
