#include "sim/packets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"

namespace sim {
namespace {

constexpr long kHeaderSize = kPaktPacketHeaderSize;
constexpr long kTotalLengthAt = 12;
constexpr std::size_t kMaxMessageSize = 65535;
// A sample record's fields without its optional text, with room to spare.
constexpr std::size_t kSampleRecordBound = 256;

std::uint32_t LoadU32(const std::uint8_t *bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint16_t LoadU16(const std::uint8_t *bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// A packet and one message object that is cleared, filled and appended for each message
// in turn, as the driver itself builds its packets.
class Builder {
 public:
  Builder(std::size_t packetSize, std::size_t messageSize)
      : packet_(pvPktAllocatePacket(static_cast<int>(packetSize))),
        message_(pvMsgAllocateMessage(static_cast<int>(std::min(messageSize, kMaxMessageSize)))) {
    ok_ = packet_ != nullptr && message_ != nullptr;
  }
  ~Builder() {
    if (packet_ != nullptr) iPktFreePacket(packet_);
    if (message_ != nullptr) iMsgFreeMessage(message_);
  }
  Builder(const Builder &) = delete;
  Builder &operator=(const Builder &) = delete;

  // The message object, emptied and typed; null once anything has failed.
  void *Begin(std::uint16_t type) {
    if (!ok_) return nullptr;
    iMsgClearMessage(message_);
    vMsgSetMessageType(message_, type);
    return message_;
  }
  // Records the result of a codec or library call on the current message.
  void Check(int rc) { ok_ = ok_ && rc == 0; }
  void End() { Check(ok_ ? iPktAddMessage(packet_, message_) : -1); }
  // The wire image, or nothing when any step failed.
  Bytes Image() const {
    if (!ok_) return {};
    const auto *bytes = static_cast<const std::uint8_t *>(packet_);
    return Bytes(bytes, bytes + dwPktGetPacketLength(packet_));
  }

 private:
  void *packet_;
  void *message_;
  bool ok_ = false;
};

std::size_t SampleBound(const SampleRecord &record) {
  const char *text = record.id153Text.Get();
  return kSampleRecordBound + (text == nullptr ? 0 : std::strlen(text) + 1);
}

std::string FormatValue(std::uint16_t id, const Bytes &data);

}  // namespace

const Field *Message::Find(std::uint16_t id) const {
  for (const Field &field : fields) {
    if (field.id == id) return &field;
  }
  return nullptr;
}

Bytes U16Bytes(std::uint16_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
}

Bytes U32Bytes(std::uint32_t value) {
  Bytes low = U16Bytes(static_cast<std::uint16_t>(value));
  Bytes high = U16Bytes(static_cast<std::uint16_t>(value >> 16));
  low.insert(low.end(), high.begin(), high.end());
  return low;
}

Bytes TextBytes(const std::string &text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

Bytes SamplePacket(const SampleRecord &record) {
  return SampleMessagesPacket({record});
}

Bytes SampleMessagesPacket(const std::vector<SampleRecord> &records) {
  std::size_t size = kHeaderSize;
  for (const SampleRecord &record : records) size += SampleBound(record);
  Builder builder(size, size);
  for (const SampleRecord &record : records) {
    builder.Check(iDataAddSampleRecord(builder.Begin(kMessageSampleData), &record));
    builder.End();
  }
  return builder.Image();
}

Bytes SamplePointsPacket(const std::vector<SampleRecord> &records) {
  std::size_t size = kHeaderSize + kPaktMessageHeaderSize;
  for (const SampleRecord &record : records) size += SampleBound(record);
  Builder builder(size, size);
  void *message = builder.Begin(kMessageSampleData);
  for (const SampleRecord &record : records) builder.Check(iDataAddSampleRecord(message, &record));
  builder.End();
  return builder.Image();
}

Bytes ConfigInfoPacket(const std::string &instrumentType, const std::string &instrumentVersion,
                       const std::string &name) {
  InstrumentInfo info{};
  info.recordCount.Set(1);
  info.id164Text.Set(name.c_str());
  info.instrumentType.Set(instrumentType.c_str());
  info.instrumentVersion.Set(instrumentVersion.c_str());
  info.configRequest.Set(1);
  std::size_t size = 128 + name.size() + instrumentType.size() + instrumentVersion.size();
  Builder builder(kHeaderSize + size, size);
  builder.Check(iCfgAddInstrumentInfo(builder.Begin(kMessageConfigInfo), &info));
  builder.End();
  return builder.Image();
}

Bytes StatusPacket(std::uint16_t code, const std::string &text) {
  StatusRecord status{};
  status.statusCode.Set(code);
  status.statusText.Set(text.c_str());
  std::size_t size = 64 + text.size();
  Builder builder(kHeaderSize + size, size);
  builder.Check(iStatusAddStatusRecord(builder.Begin(kMessageStatus), &status));
  builder.End();
  return builder.Image();
}

Bytes BuildPacket(const std::vector<Message> &messages) {
  std::size_t size = kHeaderSize;
  std::size_t largest = kPaktMessageHeaderSize;
  for (const Message &message : messages) {
    std::size_t length = kPaktMessageHeaderSize;
    for (const Field &field : message.fields) length += kPaktFieldHeaderSize + field.bytes.size();
    if (length > kMaxMessageSize) return {};
    size += length;
    largest = std::max(largest, length);
  }
  Builder builder(size, largest);
  for (const Message &message : messages) {
    void *built = builder.Begin(message.type);
    for (const Field &field : message.fields) {
      builder.Check(iMsgAddField(built, field.id, static_cast<std::uint16_t>(field.bytes.size()),
                                 field.bytes.data()));
    }
    builder.End();
  }
  return builder.Image();
}

Bytes SamplingConfigPacket(std::uint32_t updateRateSeconds) {
  SamplePointConfig config{};
  config.id106Value.Set(updateRateSeconds * 100);
  config.id107Value.Set(updateRateSeconds * 500);
  Builder builder(1024, 512);
  builder.Check(iConfigAddSamplePointConfig(builder.Begin(kMessageSamplePointConfig), &config));
  builder.End();
  // The driver sends the control message with the type that clearing leaves on it.
  builder.Check(iCtrlSetCommand(builder.Begin(0), 1, 0));
  builder.End();
  return builder.Image();
}

Bytes StartPacket() {
  const std::uint16_t request = 1;
  Builder builder(64, 32);
  builder.Begin(kMessageConnect);
  builder.End();
  builder.Check(iCfgAddGetConfig(builder.Begin(kMessageGetConfig), &request));
  builder.End();
  return builder.Image();
}

Bytes LeavingPacket() {
  return BuildPacket({Message{kMessageDriverEnd, {}}});
}

Packet DecodePacket(const Bytes &image) {
  Packet packet;
  packet.bytes = image;
  if (image.size() < static_cast<std::size_t>(kHeaderSize)) return packet;
  // The library trusts the declared total within a caller's buffer: never let it claim
  // more than the bytes at hand.
  Bytes buffer = image;
  long declared = static_cast<std::int32_t>(LoadU32(&buffer[kTotalLengthAt]));
  if (declared > static_cast<long>(buffer.size())) {
    Bytes actual = U32Bytes(static_cast<std::uint32_t>(buffer.size()));
    std::copy(actual.begin(), actual.end(), buffer.begin() + kTotalLengthAt);
  }
  for (void *message = pvPktGetNextMessagePointer(buffer.data(), nullptr); message != nullptr;
       message = pvPktGetNextMessagePointer(buffer.data(), message)) {
    Message decoded{wMsgGetMessageType(message), {}};
    for (std::uint16_t field = wMsgGetFirstField(message); field != 0;
         field = wMsgGetNextField(message, field)) {
      const auto *data = static_cast<const std::uint8_t *>(pvMsgGetField(message, field));
      std::uint16_t length = wMsgGetFieldLength(message, field);
      decoded.fields.push_back(Field{wMsgGetFieldID(message, field),
                                     data == nullptr ? Bytes{} : Bytes(data, data + length)});
    }
    packet.messages.push_back(std::move(decoded));
  }
  return packet;
}

long PacketLengthAt(const Bytes &stream, long maxLength) {
  if (stream.size() >= 4 && LoadU32(stream.data()) != DOV_PAKT_MAGIC) return -1;
  if (stream.size() < static_cast<std::size_t>(kHeaderSize)) return 0;
  long total = static_cast<std::int32_t>(LoadU32(&stream[kTotalLengthAt]));
  return total < kHeaderSize || total > maxLength ? -1 : total;
}

std::string Describe(const Message &message) {
  std::string text = "type " + std::to_string(message.type) + ":";
  if (message.fields.empty()) text += " (no fields)";
  for (const Field &field : message.fields) {
    text += " " + std::to_string(field.id) + "=" + FormatValue(field.id, field.bytes);
  }
  return text;
}

namespace {

bool LooksLikeText(const Bytes &data) {
  if (data.size() < 2 || data.back() != 0) return false;
  return std::all_of(data.begin(), data.end() - 1,
                     [](std::uint8_t c) { return c >= 32 && c < 127; });
}

std::string Hex(const Bytes &data) {
  std::string text = "0x";
  char digits[3];
  for (std::uint8_t byte : data) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

std::string FormatValue(std::uint16_t id, const Bytes &data) {
  const std::uint8_t *p = data.data();
  if (data.empty()) return "[]";
  if (id == kFieldControlCommand && data.size() == 4) {
    return std::to_string(LoadU16(p)) + "," + std::to_string(LoadU16(p + 2));
  }
  if (LooksLikeText(data)) return "\"" + std::string(data.begin(), data.end() - 1) + "\"";
  if (id == kFieldSampleVolume && data.size() == 4) {
    return std::to_string(static_cast<std::int32_t>(LoadU32(p)));
  }
  if (id == kFieldVolumeExponent && data.size() == 2) {
    return std::to_string(static_cast<std::int16_t>(LoadU16(p)));
  }
  if (data.size() == 1) return std::to_string(p[0]);
  if (data.size() == 2) return std::to_string(LoadU16(p));
  if (data.size() == 4) return std::to_string(LoadU32(p));
  if (data.size() % 4 != 0) return Hex(data);
  std::string list = "[";
  for (std::size_t i = 0; i < data.size(); i += 4) {
    list += (i == 0 ? "" : ",") + std::to_string(LoadU32(p + i));
  }
  return list + "]";
}

}  // namespace

}  // namespace sim
