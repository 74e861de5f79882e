#include "tags/tag_parse.h"

#include <cctype>
#include <cstring>

#include "contracts/host_runtime.h"
#include "link/instance_state.h"
#include "link/sampling_config.h"
#include "tags/tag_rules.h"

namespace {

constexpr std::int32_t kHostValue28 = 255;
constexpr std::int32_t kHostValue32 = 32;

// The address from the host in a working copy; false when there is none or it is longer
// than the copy holds.
bool CopyAddress(const char *address, char (&copy)[kTagAddressSize]) {
  std::memset(copy, 0, sizeof copy);
  if (address == nullptr) return false;
  std::size_t length = strnlen(address, kTagAddressSize);
  if (length >= kTagAddressSize) return false;
  std::memcpy(copy, address, length);
  return true;
}

void Refuse(const char *format, const char *address) {
  err(kLogOperational, format, address);
}

// Logs why a channel tag is refused; false when it is accepted.
bool RefusedChannel(const TagJudgement &judgement, const char *address) {
  switch (judgement.fault) {
    case TagFault::kChannelLength:
      Refuse("DEVADO: ParseAddress() Failed. Tag address string '%s' too long", address);
      return true;
    case TagFault::kChannelAddress:
      Refuse("DEVADO: ParseAddress() Failed. Tag '%s' invalid address", address);
      return true;
    case TagFault::kChannelType:
      Refuse("DEVADO: ParseAddress() Failed. Tag '%s' Type must be 'float'", address);
      return true;
    default:
      return false;
  }
}

int ArmChannelTag(CommandBlock *command, const char *address, const TagJudgement &judgement) {
  auto *params = ParamsOf<ParseParams>(command);
  params->channel.Set(judgement.channel);
  InstanceBlock *block = command->instanceBlock.Get();
  // Flagged first: a connection that is handed over from now on arms this tag too, so
  // that no tag parsed while a station connects is left unarmed.
  std::int32_t gateId = params->gateId.Get();
  if (gateId >= 0 && gateId < kChannelGateFlagCount) block->channelGateFlags[gateId].Store(1);
  SetupSamplingConfig(block, params->station.Get(), address);
  return 0;
}

// A tag is armed only on a running instance: before cold start (or after driver end) there
// is no station to configure, and the block may hold anything.
bool RefusedNotRunning(const InstanceBlock *block, const char *address) {
  if (RunningInstance(block)) return false;
  Refuse("DEVADO: SingleParse() refused. Tag '%s'. The driver is not running", address);
  return true;
}

// Logs why a tag is refused before its kind is known; false when there is no such reason.
bool RefusedStation(const TagJudgement &judgement, const char *address) {
  switch (judgement.fault) {
    case TagFault::kIllegalStation:
      Refuse("DEVADO: SingleParse() failed. Illegal PLC Address in Tag '%s'", address);
      return true;
    case TagFault::kStationNotConfigured:
      err(kLogOperational,
          "DEVADO: SingleParse() failed. Tag '%s' Station %d not defined in Init file", address,
          judgement.station);
      return true;
    default:
      return false;
  }
}

int ParseAirFlowTag(const TagJudgement &judgement, const char *address) {
  if (judgement.fault == TagFault::kAirFlowAddress) {
    char upper[kTagAddressSize];
    for (int i = 0; i < kTagAddressSize; ++i) {
      upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(address[i])));
    }
    Refuse("DEVADO: SingleParse() error. Invalid Air Flow Tag address '%s'", address);
    Refuse("DEVADO: SingleParse() Please define Air Flow Tag address '%s'", upper);
    return 1;
  }
  if (judgement.fault == TagFault::kNone) return 0;
  Refuse("DEVADO: SingleParse() error. Tag '%s' must be 'Signed 16' or 'Unsigned 16'", address);
  return 1;
}

}  // namespace

int SingleParse(CommandBlock *command) {
  auto *params = ParamsOf<ParseParams>(command);
  InstanceBlock *block = command->instanceBlock.Get();
  if (params == nullptr || block == nullptr) return 1;
  params->station.Set(0);
  params->hostValue28.Set(kHostValue28);
  params->hostValue32.Set(kHostValue32);
  const char *original = params->address.Get();
  char address[kTagAddressSize];
  if (!CopyAddress(original, address)) {
    Refuse("DEVADO: ParseAddress() Failed. Tag address string '%s' too long",
           original != nullptr ? original : "");
    return 1;
  }
  if (RefusedNotRunning(block, address)) return 1;
  TagJudgement judgement = JudgeTag(address, params->gateType.Get(), [block](int station) {
    return IsConfigured(block->stations[station]);
  });
  params->station.Set(judgement.station);
  if (RefusedStation(judgement, address)) return 1;
  if (judgement.airFlow) return ParseAirFlowTag(judgement, address);
  if (RefusedChannel(judgement, address)) return 1;
  return ArmChannelTag(command, address, judgement);
}

int ParseAddress(CommandBlock *command) {
  auto *params = ParamsOf<ParseParams>(command);
  char address[kTagAddressSize];
  if (params == nullptr || !CopyAddress(params->address.Get(), address)) return 1;
  if (RefusedNotRunning(command->instanceBlock.Get(), address)) return 1;
  TagJudgement judgement = JudgeChannelTag(address, params->gateType.Get());
  if (RefusedChannel(judgement, address)) return 1;
  return ArmChannelTag(command, address, judgement);
}

int BlockParse(CommandBlock *command) {
  auto *params = ParamsOf<ParseParams>(command);
  char address[kTagAddressSize] = {};
  if (params != nullptr) CopyAddress(params->address.Get(), address);
  err(kLogOperational, "DEVADO: BlockParse() not supported at this stage... Tag '%s'", address);
  return 1;
}
