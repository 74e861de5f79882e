// Packets as a station sends them, built through the packet library and the codecs, and
// raw packet headers for packets that no library would build.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;
using MessageFiller = std::function<void(void *message)>;

// One packet holding one message per filler, in order.
Bytes BuildPacket(const std::vector<MessageFiller> &messages);

// A sample-data message (type 10) with one sample point.
MessageFiller SampleMessage(const std::vector<std::int32_t> &counts, std::int32_t volume,
                            std::int16_t exponent, std::uint8_t flags);
// A configuration-information message (type 3); a null text leaves its field out.
MessageFiller ConfigInfoMessage(const char *type, const char *version);
// A status message (type 5); a null text leaves its field out.
MessageFiller StatusMessage(std::uint16_t code, const char *text);
// A message of any type with one opaque field of `size` bytes.
MessageFiller OpaqueMessage(std::uint16_t type, std::size_t size);

// An 18-byte packet header.
Bytes PacketHeader(std::int32_t total, std::uint16_t count, std::uint32_t magic = 0xDEADBEEF);

Bytes Concat(const Bytes &a, const Bytes &b);
// The first `count` bytes.
Bytes Prefix(const Bytes &bytes, std::size_t count);
