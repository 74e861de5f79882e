#include "lifecycle/driver_info.h"

#include "lifecycle/banner.h"

namespace {
// Values of the host's driver information record whose meaning belongs to the host.
constexpr std::int32_t kHostValue0 = 70;
constexpr std::int32_t kHostValue16 = 1;
constexpr std::int32_t kHostValue28 = 3;
}  // namespace

int DriverInfo(CommandBlock *command) {
  auto *record = ParamsOf<DriverInfoRecord>(command);
  if (record == nullptr) return kCommandRefused;
  record->hostValue0.Set(kHostValue0);
  record->name.Set(DriverName());
  record->banner.Set(Banner());
  record->blockSize.Set(static_cast<std::int32_t>(kInstanceBlockSize));
  record->hostValue16.Set(kHostValue16);
  record->hostValue28.Set(kHostValue28);
  return 0;
}
