#include "link/process_messages.h"

#include <cstdio>
#include <cstring>

#include "contracts/host_runtime.h"

void StationStream::Reset() {
  used_ = 0;
}

bool StationStream::HasPacket() const {
  std::size_t length = 0;
  return CheckFrame(bytes_, used_, &length) == Frame::kComplete;
}

struct ProcessMessagesStep {
  const PacketContext &context;
  std::uint16_t station;
  win::SOCKET socket;
  StationStream &stream;
  StationStream::Clock::time_point now;
  Received received;
  bool drained = false;  // the last receive took all the socket held

  bool Stopping() const { return context.stop != nullptr && context.stop->load(); }

  // The link is lost; `cause` completes "Station n ..." in a detail line after the
  // driver's own, so that an operator can tell a station that closed its connection from
  // one that sends what is no packet.
  void Lost(bool corrupt, const char *cause) {
    if (corrupt) err(kLogDetail, "DEVADO: ProcessMessages() Countnet Sent Corrupt Packet");
    err(kLogDetail, "DEVADO: ProcessMessages() Station %d %s", station, cause);
    received.linkLost = true;
  }

  // Handles the complete packets at the front; false when the stream broke.
  bool TakePackets(int maxPackets) {
    while (received.packets < maxPackets && !Stopping()) {
      std::size_t length = 0;
      Frame frame = CheckFrame(stream.bytes_, stream.used_, &length);
      if (frame == Frame::kPartial) return true;
      if (frame == Frame::kBadLength) {
        Lost(true, "sent a packet of impossible length");
        return false;
      }
      if (frame != Frame::kComplete) {
        Lost(false, "sent bytes that do not begin a packet");
        return false;
      }
      received.samples += HandlePacket(context, station, stream.bytes_);
      ++received.packets;
      stream.used_ -= length;
      std::memmove(stream.bytes_, stream.bytes_ + length, stream.used_);
      stream.partialSince_ = now;  // whatever follows began arriving no earlier than now
    }
    return true;
  }

  // One receive into the free part of the buffer; false when there is nothing more to
  // read now. A receive that did not fill the room took all there was: what arrives later
  // is read on a later pass, without another call now.
  bool ReceiveSome() {
    std::size_t room = sizeof stream.bytes_ - stream.used_;
    if (room == 0) return false;
    if (stream.used_ == 0) stream.partialSince_ = now;
    int rc = win::recv(socket, reinterpret_cast<char *>(stream.bytes_ + stream.used_),
                       static_cast<int>(room), 0);
    if (rc > 0) {
      stream.used_ += static_cast<std::size_t>(rc);
      received.data = true;
      drained = static_cast<std::size_t>(rc) < room;
      return true;
    }
    int error = rc == 0 ? 0 : win::WSAGetLastError();
    if (rc == 0) {
      received.data = true;  // the news of the connection's end
      Lost(true, "closed the connection");
    } else if (error != WSAEWOULDBLOCK) {
      received.data = true;
      char cause[64];
      std::snprintf(cause, sizeof cause, "broke the connection (socket error %d)", error);
      Lost(true, cause);
    }
    return false;
  }

  bool Stalled() const {
    return stream.used_ > 0 &&
           now - stream.partialSince_ > std::chrono::milliseconds(kPacketCompleteWithinMs);
  }
};

Received ProcessMessages(const PacketContext &context, std::uint16_t station, win::SOCKET socket,
                         StationStream &stream, int maxPackets,
                         StationStream::Clock::time_point now) {
  ProcessMessagesStep step{context, station, socket, stream, now, {}};
  while (step.TakePackets(maxPackets) && step.received.packets < maxPackets && !step.Stopping() &&
         !step.drained && step.ReceiveSome()) {
  }
  if (!step.received.linkLost && !step.Stopping()) {
    // Complete packets first; what is left must be a packet that is still arriving.
    if (step.TakePackets(maxPackets) && step.received.packets < maxPackets && step.Stalled()) {
      step.Lost(true, "sent a packet that was not complete within 2 s");
    }
  }
  return step.received;
}
