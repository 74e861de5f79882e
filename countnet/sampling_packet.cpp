#include "countnet/sampling_packet.h"

#include <cstring>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"

namespace {

constexpr std::uint16_t kStartSampling = 1;

void NoteIfFailed(DeferredLog &failures, int rc, const char *format) {
  if (rc < 0) failures.Add(format, rc);
}

void NoteIfFailed(DeferredLog &failures, int rc, int instance, const char *format) {
  if (rc < 0) failures.Add(format, instance, rc);
}

}  // namespace

void BuildConfigurationPacket(void *packet, void *message, std::uint16_t updateRate,
                              DeferredLog &failures) {
  NoteIfFailed(failures, iPktClearPacket(packet),
               "DEVADO: SetupSamplingConfig() iPktClearPacket(1) failed rc %d");
  SamplePointConfig config;
  std::memset(&config, 0, sizeof config);
  config.id106Value.Set(static_cast<std::uint32_t>(updateRate) * 100);
  config.id107Value.Set(static_cast<std::uint32_t>(updateRate) * 500);
  NoteIfFailed(failures, iMsgClearMessage(message),
               "DEVADO: SetupSamplingConfig() iMsgClearMessage(1) failed rc %d");
  vMsgSetMessageType(message, kMessageSamplePointConfig);
  NoteIfFailed(failures, iConfigAddSamplePointConfig(message, &config),
               "DEVADO: SetupSamplingConfig() iConfigAddSamplePointConfig() failed rc %d");
  NoteIfFailed(failures, iPktAddMessage(packet, message),
               "DEVADO: SetupSamplingConfig() iPktAddMessage(1) failed rc %d");
  // The control message carries whatever type a cleared message has.
  NoteIfFailed(failures, iMsgClearMessage(message),
               "DEVADO: SetupSamplingConfig() iMsgClearMessage(2) failed rc %d");
  NoteIfFailed(failures, iCtrlSetCommand(message, kStartSampling, 0),
               "DEVADO: SetupSamplingConfig() iCtrlSetCommand() failed rc %d");
  NoteIfFailed(failures, iPktAddMessage(packet, message),
               "DEVADO: SetupSamplingConfig() iPktAddMessage(2) failed rc %d");
}

void BuildStartPacket(void *packet, void *message, int instance, DeferredLog &failures) {
  NoteIfFailed(failures, iPktClearPacket(packet), instance,
               "OxaDOV%d: InitFms() iPktClearPacket() failed. rc = %d");
  NoteIfFailed(failures, iMsgClearMessage(message), instance,
               "OxaDOV%d: InitFms() iMsgClearMessage(1) failed. rc = %d");
  vMsgSetMessageType(message, kMessageConnect);
  NoteIfFailed(failures, iPktAddMessage(packet, message), instance,
               "OxaDOV%d: InitFms() iPktAddMessage(1) failed. rc = %d");
  NoteIfFailed(failures, iMsgClearMessage(message), instance,
               "OxaDOV%d: InitFms() iMsgClearMessage(2) failed. rc = %d");
  vMsgSetMessageType(message, kMessageGetConfig);
  const std::uint16_t sendConfiguration = 1;
  NoteIfFailed(failures, iCfgAddGetConfig(message, &sendConfiguration), instance,
               "OxaDOV%d: InitFms() iCfgAddGetConfig() failed. rc = %d");
  NoteIfFailed(failures, iPktAddMessage(packet, message), instance,
               "OxaDOV%d: InitFms() iPktAddMessage(2) failed. rc = %d");
}
