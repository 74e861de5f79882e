#include "lifecycle/receive_timeout.h"

int SetReceiveTimeout(CommandBlock *command) {
  auto *params = ParamsOf<ReceiveTimeoutParams>(command);
  InstanceBlock *block = command->instanceBlock.Get();
  if (params == nullptr || block == nullptr) return kCommandRefused;
  std::int32_t timeoutMs = params->timeoutMs.Get();
  if (timeoutMs != 0) block->receiveTimeoutMs.Set(timeoutMs);
  return 0;
}
