// Control commands (field 129): a command word followed by its argument word.
#include <cstring>

#include "countnet/codecs.h"
#include "countnet/field_table.h"

namespace {

constexpr std::uint16_t kCommandLength = 4;

}  // namespace

int iCtrlSetCommand(void *message, std::uint16_t command, std::uint16_t argument) {
  if (message == nullptr) return kCodecBadArgument;
  unsigned char data[kCommandLength];
  std::memcpy(data, &command, sizeof command);
  std::memcpy(data + sizeof command, &argument, sizeof argument);
  return iMsgAddField(message, kFieldControlCommand, kCommandLength, data);
}

int iCtrlGetCommand(void *message, std::uint16_t *command, std::uint16_t *argument) {
  if (message == nullptr) return kCodecBadArgument;
  std::uint16_t length;
  const void *data = countnet::FindFieldData(message, kFieldControlCommand, &length);
  if (data == nullptr) return kCodecNoControlCommand;
  std::uint16_t words[2];
  countnet::CopyUpTo(words, sizeof words, data, length);
  if (command != nullptr) *command = words[0];
  if (argument != nullptr) *argument = words[1];
  return words[0];
}
