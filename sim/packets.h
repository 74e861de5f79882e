// CountNet packets as a station sends and receives them, built and taken apart through
// the packet library and the message codecs, so that a simulated station speaks exactly
// the wire format that the driver reads. Tests and benchmarks use the same builders to
// make the packets they feed the driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "countnet/codec_records.h"

namespace sim {

using Bytes = std::vector<std::uint8_t>;

struct Field {
  std::uint16_t id = 0;
  Bytes bytes;
};

struct Message {
  std::uint16_t type = 0;
  std::vector<Field> fields;

  // The first field with this id, or null.
  const Field *Find(std::uint16_t id) const;
};

// A received packet: its wire image and its messages.
struct Packet {
  Bytes bytes;
  std::vector<Message> messages;
};

// What a station's samples look like. Counts are drawn from `seed` and the sample's
// sequence number only, so the same profile always yields the same samples.
struct SampleProfile {
  int channelCount = 6;  // 0..32
  std::int32_t sampleVolume = 2832;
  std::int16_t volumeExponent = 0;
  std::uint8_t statusFlags =
      kStatusLaserOk | kStatusFlowOk | kStatusLaserReported | kStatusFlowReported;
  std::uint32_t seed = 1;
};

// Sample number `sequence` of a profile: cumulative counts per channel, channel 0
// counting every particle and each larger size at most half of the one below it, so
// that every channel's differential count is positive.
SampleRecord MakeSample(const SampleProfile &profile, std::uint32_t sequence);

// Bytes values as the codecs and the wire keep them (little-endian).
Bytes U16Bytes(std::uint16_t value);
Bytes U32Bytes(std::uint32_t value);
Bytes TextBytes(const std::string &text);  // with its terminating NUL

// Packets a station sends. Bytes 4 to 11 of the header (the library's peer address and
// socket) are left zero: the driver does not read them, and equal records then give
// equal images.
Bytes SamplePacket(const SampleRecord &record);
// One sample-data message per record.
Bytes SampleMessagesPacket(const std::vector<SampleRecord> &records);
// One sample-data message holding every record (sample points one after the other).
Bytes SamplePointsPacket(const std::vector<SampleRecord> &records);
Bytes ConfigInfoPacket(const std::string &instrumentType, const std::string &instrumentVersion,
                       const std::string &name = "CountNet station");
Bytes StatusPacket(std::uint16_t code, const std::string &text);
// Any messages with any fields, in the given order.
Bytes BuildPacket(const std::vector<Message> &messages);

// Packets the driver sends: the sampling configuration with its start command, the
// start packet of a connection and the leaving message.
Bytes SamplingConfigPacket(std::uint32_t updateRateSeconds);
Bytes StartPacket();
Bytes LeavingPacket();

// The messages of a wire image, read through the packet library (which never reads past
// the declared lengths).
Packet DecodePacket(const Bytes &image);

// The wire length of the packet at the start of `stream`: 0 while its header is
// incomplete, -1 when the stream does not start with a packet header (wrong magic, or a
// total length below 18 or above maxLength).
long PacketLengthAt(const Bytes &stream, long maxLength = 1 << 20);

// "type 11: 114=0 101=0 106=1000 107=5000 ..." for logs.
std::string Describe(const Message &message);

}  // namespace sim
