#include "tests/support/packet_builder.h"

#include <cstring>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"

Bytes BuildPacket(const std::vector<MessageFiller> &messages) {
  void *packet = pvPktAllocatePacket(65536);
  void *message = pvMsgAllocateMessage(65535);
  for (const MessageFiller &fill : messages) {
    iMsgClearMessage(message);
    fill(message);
    iPktAddMessage(packet, message);
  }
  const auto *bytes = static_cast<const unsigned char *>(packet);
  Bytes image(bytes, bytes + dwPktGetPacketLength(packet));
  iPktFreePacket(packet);
  iMsgFreeMessage(message);
  return image;
}

MessageFiller SampleMessage(const std::vector<std::int32_t> &counts, std::int32_t volume,
                            std::int16_t exponent, std::uint8_t flags) {
  return [=](void *message) {
    SampleRecord record;
    std::memset(&record, 0, sizeof record);
    record.channelCount = static_cast<std::uint8_t>(counts.size());
    record.sampleVolume.Set(volume);
    record.volumeExponent.Set(exponent);
    record.statusFlags = flags;
    for (std::size_t i = 0; i < counts.size() && i < kMaxChannels; ++i) {
      record.channelCounts[i].Set(counts[i]);
    }
    vMsgSetMessageType(message, kMessageSampleData);
    iDataAddSampleRecord(message, &record);
  };
}

MessageFiller ConfigInfoMessage(const char *type, const char *version) {
  return [=](void *message) {
    vMsgSetMessageType(message, kMessageConfigInfo);
    if (type != nullptr) {
      iMsgAddField(message, kFieldInstrumentType, static_cast<std::uint16_t>(std::strlen(type) + 1),
                   type);
    }
    if (version != nullptr) {
      iMsgAddField(message, kFieldInstrumentVersion,
                   static_cast<std::uint16_t>(std::strlen(version) + 1), version);
    }
  };
}

MessageFiller StatusMessage(std::uint16_t code, const char *text) {
  return [=](void *message) {
    vMsgSetMessageType(message, kMessageStatus);
    iMsgAddField(message, kFieldStatusCode, 2, &code);
    if (text != nullptr) {
      iMsgAddField(message, kFieldStatusText, static_cast<std::uint16_t>(std::strlen(text) + 1),
                   text);
    }
  };
}

MessageFiller OpaqueMessage(std::uint16_t type, std::size_t size) {
  return [=](void *message) {
    vMsgSetMessageType(message, type);
    std::vector<unsigned char> data(size, 0x5A);
    iMsgAddField(message, 9999, static_cast<std::uint16_t>(size), data.data());
  };
}

Bytes PacketHeader(std::int32_t total, std::uint16_t count, std::uint32_t magic) {
  Bytes header(18, 0);
  std::memcpy(header.data(), &magic, 4);
  std::memcpy(header.data() + 12, &total, 4);
  std::memcpy(header.data() + 16, &count, 2);
  return header;
}

Bytes Concat(const Bytes &a, const Bytes &b) {
  Bytes joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  return joined;
}

Bytes Prefix(const Bytes &bytes, std::size_t count) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}
