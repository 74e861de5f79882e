#include "countnet/process_messages.h"

#include "countnet/codecs.h"
#include "countnet/dov_pakt.h"
#include "countnet/packet_reader.h"
#include "countnet/sample_values.h"
#include "entry/host_runtime.h"
#include "entry/instance_private.h"

namespace {

constexpr int kGateAddressSize = 33;

// Gate addresses ("%03dF%04d", "%03dAIR_FLOW") are built by hand: this runs for every
// channel of every sample of every station, and stations are 0..255, channels 0..31.
void PutDigits(char *out, unsigned value, int width) {
  for (int k = width - 1; k >= 0; --k) {
    out[k] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

const char *TextOrEmpty(const char *text) {
  return text != nullptr ? text : "";
}

void HandleConfigInfo(void *message) {
  err(kLogDetail, "DEVADO: ProcessMessages() CONFIG_INFO Message received");
  err(kLogDetail, "DEVADO: ProcessMessages() Instrument type is '%s'",
      TextOrEmpty(pszCfgGetInstrumentType(message)));
  err(kLogDetail, "DEVADO: ProcessMessages() Instrument Version is '%s'",
      TextOrEmpty(pszCfgGetInstrumentVersion(message)));
}

void HandleStatus(void *message) {
  StatusRecord record;
  if (iStatusGetStatusRecord(message, &record) != 0) return;
  err(kLogDetail, "DEVADO: ProcessMessages() Got status '%s'",
      TextOrEmpty(record.statusText.Get()));
}

// Writes a value to the gate with this address, if the host has one.
void WriteGate(const InstanceBlock *block, const char *address, double value) {
  int gateId = 0;
  std::uint8_t client = block->clientId;
  auto driver = static_cast<std::uint8_t>(block->instanceNumber.Get());
  if (HevGetGateIdByAddressStr(client, driver, address, &gateId) == kHevOk) {
    HevPutGateVal(client, gateId, 2, value, 0, 0);
  }
}

void WriteChannelGates(const InstanceBlock *block, int station, const SampleValues &values) {
  char address[kGateAddressSize] = {};
  PutDigits(address, static_cast<unsigned>(station), 3);
  address[3] = 'F';
  for (int i = 0; i < values.channelCount; ++i) {
    PutDigits(address + 4, static_cast<unsigned>(i), 4);
    if (values.differential[i] != 0) {
      err(kLogDetail, "Channel %d Diff Val %ld Normalized diff val: %f", i,
          static_cast<long>(values.differential[i]), static_cast<double>(values.normalized[i]));
    }
    WriteGate(block, address, static_cast<double>(values.normalized[i]));
  }
}

void ReportDeviceFlags(const InstanceBlock *block, int station, std::uint8_t flags) {
  if ((flags & kStatusLaserReported) && !(flags & kStatusLaserOk)) {
    err(kLogDetail, "DEVADO: ProcessMessages() Device %d - Countnet Laser Fail", station);
  }
  if (!(flags & kStatusFlowReported)) return;
  char address[kGateAddressSize] = "000AIR_FLOW";
  PutDigits(address, static_cast<unsigned>(station), 3);
  WriteGate(block, address, (flags & kStatusFlowOk) ? 1.0 : 0.0);
  if (!(flags & kStatusFlowOk)) {
    err(kLogDetail, "DEVADO: ProcessMessages() Device %d - Countnet Flow rate Fail", station);
  }
}

void HandleSampleData(const InstanceBlock *block, int station, void *message) {
  SampleValues values;
  if (DecodeSampleMessage(message, &values) != 0) return;
  WriteChannelGates(block, station, values);
  ReportDeviceFlags(block, station, values.statusFlags);
}

}  // namespace

int HandlePacket(InstanceBlock *block, std::uint16_t station, unsigned char *packet) {
  if (station >= kStationCount) return 0;  // no such station, and no such gate address
  int result = 0;
  void *message = nullptr;
  std::uint16_t count = PacketMessageCount(packet);
  for (std::uint16_t i = 0; i < count; ++i) {
    message = pvPktGetNextMessagePointer(packet, message);
    if (message == nullptr) break;  // the packet holds fewer messages than it claims
    switch (wMsgGetMessageType(message)) {
      case kMessageConfigInfo:
        HandleConfigInfo(message);
        break;
      case kMessageStatus:
        HandleStatus(message);
        break;
      case kMessageSampleData:
        HandleSampleData(block, station, message);
        result = 1;
        break;
      default:
        break;
    }
  }
  return result;
}

int ProcessMessages(InstanceBlock *block, std::uint16_t station, bool *linkLost,
                    const PolledLink *polled) {
  if (linkLost != nullptr) *linkLost = false;
  if (station >= kStationCount) return 0;
  unsigned char packet[kPacketBufferSize];
  PacketRead read;
  {
    InstancePrivate &state = PrivateStateOf(block);
    StationPrivate &link = state.stations[station];
    std::unique_lock<std::mutex> lock(link.link, std::try_to_lock);
    std::int32_t socket = block->stations[station].socket.Load();
    bool samePolled =
        polled == nullptr || (socket == polled->socket && link.connection == polled->connection);
    if (!lock.owns_lock() || StopRequested(state) || socket == kNoSocket || !samePolled) {
      return 0;
    }
    read = ReadPacket(static_cast<win::SOCKET>(socket), packet);
  }
  if (read != PacketRead::kComplete) {
    // A wrong magic is dropped silently; every other fault is a corrupt packet.
    if (read != PacketRead::kWrongMagic) {
      err(kLogDetail, "DEVADO: ProcessMessages() Countnet Sent Corrupt Packet");
    }
    if (linkLost != nullptr) *linkLost = true;
    return 0;
  }
  return HandlePacket(block, station, packet);
}
