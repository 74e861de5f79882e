#include "countnet/packet_handler.h"

#include "contracts/dov_pakt.h"
#include "contracts/host_runtime.h"
#include "contracts/instance_block.h"
#include "countnet/codecs.h"
#include "countnet/packet_frame.h"
#include "countnet/sample_values.h"

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

bool Stopping(const PacketContext &context) {
  return context.stop != nullptr && context.stop->load();
}

// Writes a value to the gate with this address, if the host has one.
void WriteGate(const PacketContext &context, const char *address, double value) {
  int gateId = 0;
  auto driver = static_cast<std::uint8_t>(context.instance);
  if (HevGetGateIdByAddressStr(context.clientId, driver, address, &gateId) == kHevOk &&
      !Stopping(context)) {
    HevPutGateVal(context.clientId, gateId, 2, value, 0, 0);
  }
}

void WriteChannelGates(const PacketContext &context, int station, const SampleValues &values) {
  char address[kGateAddressSize] = {};
  PutDigits(address, static_cast<unsigned>(station), 3);
  address[3] = 'F';
  for (int i = 0; i < values.channelCount && !Stopping(context); ++i) {
    PutDigits(address + 4, static_cast<unsigned>(i), 4);
    if (values.differential[i] != 0) {
      err(kLogDetail, "Channel %d Diff Val %ld Normalized diff val: %f", i,
          static_cast<long>(values.differential[i]), static_cast<double>(values.normalized[i]));
    }
    WriteGate(context, address, static_cast<double>(values.normalized[i]));
  }
}

void ReportDeviceFlags(const PacketContext &context, int station, std::uint8_t flags) {
  if ((flags & kStatusLaserReported) && !(flags & kStatusLaserOk)) {
    err(kLogDetail, "DEVADO: ProcessMessages() Device %d - Countnet Laser Fail", station);
  }
  if (!(flags & kStatusFlowReported) || Stopping(context)) return;
  char address[kGateAddressSize] = "000AIR_FLOW";
  PutDigits(address, static_cast<unsigned>(station), 3);
  WriteGate(context, address, (flags & kStatusFlowOk) ? 1.0 : 0.0);
  if (!(flags & kStatusFlowOk)) {
    err(kLogDetail, "DEVADO: ProcessMessages() Device %d - Countnet Flow rate Fail", station);
  }
}

void HandleSampleData(const PacketContext &context, int station, void *message) {
  SampleValues values;
  if (DecodeSampleMessage(message, &values) != 0) return;
  WriteChannelGates(context, station, values);
  ReportDeviceFlags(context, station, values.statusFlags);
}

}  // namespace

int HandlePacket(const PacketContext &context, std::uint16_t station, const unsigned char *packet) {
  if (station >= kStationCount) return 0;  // no such station, and no such gate address
  // The packet library walks images in place and never writes them.
  void *image = const_cast<unsigned char *>(packet);
  int result = 0;
  void *message = nullptr;
  std::uint16_t count = PacketMessageCount(packet);
  for (std::uint16_t i = 0; i < count && !Stopping(context); ++i) {
    message = pvPktGetNextMessagePointer(image, message);
    if (message == nullptr) break;  // the packet holds fewer messages than it claims
    switch (wMsgGetMessageType(message)) {
      case kMessageConfigInfo:
        HandleConfigInfo(message);
        break;
      case kMessageStatus:
        HandleStatus(message);
        break;
      case kMessageSampleData:
        HandleSampleData(context, station, message);
        result = 1;
        break;
      default:
        break;
    }
  }
  return result;
}
