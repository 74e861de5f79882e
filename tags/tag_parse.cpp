#include "tags/tag_parse.h"

#include <cctype>
#include <cstring>

#include "contracts/host_runtime.h"
#include "link/sampling_config.h"

namespace {

constexpr int kTagAddressSize = 33;  // 32 characters and the terminator
constexpr int kChannelTagLength = 8;
constexpr std::int32_t kGateSigned16 = 0;
constexpr std::int32_t kGateUnsigned16 = 1;
constexpr std::int32_t kGateFloat = 3;
constexpr std::int32_t kHostValue28 = 255;
constexpr std::int32_t kHostValue32 = 32;

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

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

// Up to `digits` decimal digits at `text`.
int ReadNumber(const char *text, int digits) {
  int value = 0;
  for (int i = 0; i < digits && IsDigit(text[i]); ++i) value = value * 10 + (text[i] - '0');
  return value;
}

void Refuse(const char *format, const char *address) {
  err(kLogOperational, format, address);
}

int ParseChannelTag(CommandBlock *command, const char *address) {
  auto *params = ParamsOf<ParseParams>(command);
  if (std::strlen(address) != kChannelTagLength) {
    Refuse("DEVADO: ParseAddress() Failed. Tag address string '%s' too long", address);
    return 1;
  }
  if (Upper(address[3]) != 'F' || !IsDigit(address[4]) || !IsDigit(address[5]) ||
      !IsDigit(address[6])) {
    Refuse("DEVADO: ParseAddress() Failed. Tag '%s' invalid address", address);
    return 1;
  }
  if (params->gateType.Get() != kGateFloat) {
    Refuse("DEVADO: ParseAddress() Failed. Tag '%s' Type must be 'float'", address);
    return 1;
  }
  params->channel.Set(ReadNumber(address + 4, 4));  // a non-digit at the end stops it at 3
  InstanceBlock *block = command->instanceBlock.Get();
  // Flagged first: a connection that is handed over from now on arms this tag too, so
  // that no tag parsed while a station connects is left unarmed.
  std::int32_t gateId = params->gateId.Get();
  if (gateId >= 0 && gateId < kChannelGateFlagCount) block->channelGateFlags[gateId].Store(1);
  SetupSamplingConfig(block, params->station.Get(), address);
  return 0;
}

int ParseAirFlowTag(ParseParams *params, const char *address, const char *upper) {
  if (std::strcmp(address + 3, "AIR_FLOW") != 0) {
    Refuse("DEVADO: SingleParse() error. Invalid Air Flow Tag address '%s'", address);
    Refuse("DEVADO: SingleParse() Please define Air Flow Tag address '%s'", upper);
    return 1;
  }
  std::int32_t type = params->gateType.Get();
  if (type == kGateSigned16 || type == kGateUnsigned16) return 0;
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
  char upper[kTagAddressSize];
  for (int i = 0; i < kTagAddressSize; ++i) upper[i] = Upper(address[i]);

  if (!IsDigit(address[0]) || !IsDigit(address[1]) || !IsDigit(address[2])) {
    Refuse("DEVADO: SingleParse() failed. Illegal PLC Address in Tag '%s'", address);
    return 1;
  }
  int station = ReadNumber(address, 3);
  params->station.Set(station);
  if (station == 0 || station >= kStationCount) {
    Refuse("DEVADO: SingleParse() failed. Illegal PLC Address in Tag '%s'", address);
    return 1;
  }
  if (!IsConfigured(block->stations[station])) {
    err(kLogOperational,
        "DEVADO: SingleParse() failed. Tag '%s' Station %d not defined in Init file", address,
        station);
    return 1;
  }
  if (std::strcmp(upper + 3, "AIR_FLOW") != 0) return ParseChannelTag(command, address);
  return ParseAirFlowTag(params, address, upper);
}

int ParseAddress(CommandBlock *command) {
  auto *params = ParamsOf<ParseParams>(command);
  char address[kTagAddressSize];
  if (params == nullptr || !CopyAddress(params->address.Get(), address)) return 1;
  return ParseChannelTag(command, address);
}

int BlockParse(CommandBlock *command) {
  auto *params = ParamsOf<ParseParams>(command);
  char address[kTagAddressSize] = {};
  if (params != nullptr) CopyAddress(params->address.Get(), address);
  err(kLogOperational, "DEVADO: BlockParse() not supported at this stage... Tag '%s'", address);
  return 1;
}
