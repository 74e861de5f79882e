#include "config/init_file.h"

#include <cstring>
#include <string>
#include <vector>

#include "config/init_file_scan.h"
#include "contracts/host_runtime.h"
#include "link/station_address.h"

namespace {

struct Context {
  InstanceBlock *block;
  int instance;
  const char *fileName;
};

void LogLine(const Context &c, const InitLine &line, const char *problem) {
  err(kLogOperational, "DEVADO%02d: ReadInitFile() File '%s' Line '%s' %s", c.instance, c.fileName,
      line.text.c_str(), problem);
}

void Apply(const Context &c, const InitLine &line) {
  switch (line.kind) {
    case InitLineKind::kUpdateRate:
      err(kLogOperational, "DEVADO%02d: ReadInitFile() Setting Update Rate for tags to %d Secs",
          c.instance, static_cast<int>(line.value));
      c.block->updateRate.Set(static_cast<std::uint16_t>(line.value));
      break;
    case InitLineKind::kBadUpdateRate:
      LogLine(c, line, "invalid update rate");
      break;
    case InitLineKind::kStation: {
      err(kLogOperational, "DEVADO%02d: ReadInitFile() IP address of station %d set to %s",
          c.instance, static_cast<int>(line.value), line.address.c_str());
      char *field = c.block->stations[line.value].ipAddress;
      std::memset(field, 0, kIpAddressSize);
      std::memcpy(field, line.address.data(), line.address.size());
      break;
    }
    case InitLineKind::kBadStationNumber:
      LogLine(c, line, "invalid station number");
      break;
    case InitLineKind::kBadAddress:
      LogLine(c, line, "invalid IP address");
      break;
    case InitLineKind::kNotASetting:
      break;  // passed over without a word
  }
}

}  // namespace

int CheckIpAddress(const char *text) {
  return ParseStationAddress(text) ? 1 : 0;
}

int ReadInitFile(InstanceBlock *block) {
  int instance = block->instanceNumber.Get();
  std::string fileName = InitFileName(instance);
  std::vector<InitLine> lines;
  if (!ScanInitFile(fileName, &lines)) {
    err(kLogOperational, "DEVADO%02d: ReadInitFile() File '%s' not found. Driver not loaded!",
        instance, fileName.c_str());
    return 0;
  }
  Context context{block, instance, fileName.c_str()};
  for (const InitLine &line : lines) Apply(context, line);
  return 1;
}
