#include "tags/tag_rules.h"

#include <cctype>
#include <cstring>

namespace {

constexpr int kChannelTagLength = 8;
constexpr int kStationCount = 256;

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// Up to `digits` decimal digits at `text`.
int ReadNumber(const char *text, int digits) {
  int value = 0;
  for (int i = 0; i < digits && IsDigit(text[i]); ++i) value = value * 10 + (text[i] - '0');
  return value;
}

bool IsAirFlow(const char *rest, bool exactCase) {
  const char *word = "AIR_FLOW";
  if (exactCase) return std::strcmp(rest, word) == 0;
  std::size_t length = std::strlen(rest);
  if (length != std::strlen(word)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (Upper(rest[i]) != word[i]) return false;
  }
  return true;
}

}  // namespace

TagJudgement JudgeChannelTag(const char *address, std::int32_t gateType) {
  TagJudgement judgement;
  judgement.station = ReadNumber(address, 3);
  if (std::strlen(address) != kChannelTagLength) {
    judgement.fault = TagFault::kChannelLength;
  } else if (Upper(address[3]) != 'F' || !IsDigit(address[4]) || !IsDigit(address[5]) ||
             !IsDigit(address[6])) {
    judgement.fault = TagFault::kChannelAddress;
  } else if (gateType != kGateFloat) {
    judgement.fault = TagFault::kChannelType;
  } else {
    judgement.channel = ReadNumber(address + 4, 4);  // a non-digit at the end stops it at 3
  }
  return judgement;
}

TagJudgement JudgeTag(const char *address, std::int32_t gateType,
                      const std::function<bool(int)> &configured) {
  TagJudgement judgement;
  if (address == nullptr || strnlen(address, kTagAddressSize) >= kTagAddressSize) {
    judgement.fault = TagFault::kTooLong;
    return judgement;
  }
  if (!IsDigit(address[0]) || !IsDigit(address[1]) || !IsDigit(address[2])) {
    judgement.fault = TagFault::kIllegalStation;
    return judgement;
  }
  judgement.station = ReadNumber(address, 3);
  if (judgement.station == 0 || judgement.station >= kStationCount) {
    judgement.fault = TagFault::kIllegalStation;
  } else if (!configured(judgement.station)) {
    judgement.fault = TagFault::kStationNotConfigured;
  } else if (!IsAirFlow(address + 3, false)) {
    judgement = JudgeChannelTag(address, gateType);
  } else {
    judgement.airFlow = true;
    if (!IsAirFlow(address + 3, true)) {
      judgement.fault = TagFault::kAirFlowAddress;
    } else if (gateType != kGateSigned16 && gateType != kGateUnsigned16) {
      judgement.fault = TagFault::kAirFlowType;
    }
  }
  return judgement;
}

const char *TagFaultText(TagFault fault) {
  switch (fault) {
    case TagFault::kNone:
      return "accepted";
    case TagFault::kTooLong:
      return "address too long";
    case TagFault::kIllegalStation:
      return "illegal station number (001 to 255 first)";
    case TagFault::kStationNotConfigured:
      return "station not defined in the init file";
    case TagFault::kChannelLength:
      return "a channel tag has 8 characters (sssFcccc)";
    case TagFault::kChannelAddress:
      return "invalid address (sssFcccc)";
    case TagFault::kChannelType:
      return "Type must be 'float'";
    case TagFault::kAirFlowAddress:
      return "invalid air-flow address: write AIR_FLOW in capitals";
    case TagFault::kAirFlowType:
      return "must be 'Signed 16' or 'Unsigned 16'";
  }
  return "";
}
