// The rules a tag's address and gate type must meet, without acting on them: the driver
// judges every tag the host parses by them, and the host runner predicts with the very
// same rules which tags of a list the driver will refuse.
#pragma once

#include <cstdint>
#include <functional>

constexpr std::int32_t kGateSigned16 = 0;
constexpr std::int32_t kGateUnsigned16 = 1;
constexpr std::int32_t kGateFloat = 3;
constexpr int kTagAddressSize = 33;  // 32 characters and the terminator

enum class TagFault {
  kNone,
  kTooLong,               // no address, or 33 characters or more
  kIllegalStation,        // not three digits first, or station 0
  kStationNotConfigured,  // the init file gives the station no address
  kChannelLength,         // not 8 characters long, as a channel tag is
  kChannelAddress,        // not sssFddd.
  kChannelType,           // a channel gate must be a float
  kAirFlowAddress,        // AIR_FLOW in another case
  kAirFlowType,           // an air-flow gate must be a 16-bit integer
};

struct TagJudgement {
  TagFault fault = TagFault::kNone;
  int station = 0;       // once the first three characters are digits
  int channel = 0;       // of an accepted channel tag
  bool airFlow = false;  // an air-flow tag (accepted or not)
};

// `configured` tells whether the init file gives a station an address.
TagJudgement JudgeTag(const char *address, std::int32_t gateType,
                      const std::function<bool(int)> &configured);

// The channel-tag rules alone, for an address already known to name a channel.
TagJudgement JudgeChannelTag(const char *address, std::int32_t gateType);

// Why the driver refuses a tag, in a few words ("Type must be 'float'").
const char *TagFaultText(TagFault fault);
