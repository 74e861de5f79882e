// devado-host: plays the host for the driver. It loads the driver library by name, as a
// host would, and drives it through OxaMain.
#include <cstdio>
#include <cstring>
#include <string>

#include "entry/command_block.h"
#include "runner/cp437.h"
#include "runner/driver_library.h"

namespace {

constexpr int kDriverInfoCommand = 14;

struct Options {
  std::string driverPath;
  bool hex = false;
  bool help = false;
};

void PrintUsage() {
  std::puts(
      "usage: devado-host [--driver PATH] [--hex]\n"
      "\n"
      "Loads the driver as the host does and shows what it reports about itself:\n"
      "its name, its banner and the size of the instance block the host must allocate.\n"
      "\n"
      "  --driver PATH  the driver library (default: the one beside this program)\n"
      "  --hex          print the driver information as bytes, for comparing builds\n"
      "  --help         this text");
}

bool ParseOptions(int argc, char **argv, Options *options) {
  options->driverPath = DefaultDriverPath(argv[0]);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--driver" && i + 1 < argc) {
      options->driverPath = argv[++i];
    } else if (arg == "--hex") {
      options->hex = true;
    } else if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else {
      std::fprintf(stderr, "devado-host: unknown option '%s' (see --help)\n", arg.c_str());
      return false;
    }
  }
  return true;
}

void PrintHex(const char *label, const void *data, std::size_t size) {
  std::printf("%s:", label);
  for (std::size_t i = 0; i < size; ++i) {
    std::printf(" %02X", static_cast<const unsigned char *>(data)[i]);
  }
  std::printf("\n");
}

// The pointers in the record differ between processes; in hex mode the texts they point
// to are shown instead.
void PrintDriverInfo(const DriverInfoRecord &record, bool hex) {
  const char *name = record.name.Get();
  const char *banner = record.banner.Get();
  if (hex) {
    PrintHex("value0", &record.hostValue0, 4);
    PrintHex("name", name, std::strlen(name) + 1);
    PrintHex("banner", banner, std::strlen(banner) + 1);
    PrintHex("blockSize", &record.blockSize, 4);
    PrintHex("value16", &record.hostValue16, 4);
    PrintHex("value28", &record.hostValue28, 4);
    return;
  }
  std::printf("Driver name: %s\n", name);
  std::printf("Banner (%u bytes):%s", static_cast<unsigned>(std::strlen(banner)),
              Cp437ToUtf8(banner).c_str());
  std::printf("Instance block: %d bytes\n", record.blockSize.Get());
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  if (options.help) {
    PrintUsage();
    return 0;
  }
  DriverLibrary driver;
  std::string reason;
  if (!driver.Load(options.driverPath, &reason)) {
    std::fprintf(stderr, "devado-host: %s\n", reason.c_str());
    return 1;
  }
  DriverInfoRecord record;
  std::memset(&record, 0, sizeof record);
  CommandBlock command;
  std::memset(&command, 0, sizeof command);
  command.command.Set(kDriverInfoCommand);
  command.params.Set(&record);
  int rc = driver.Call(&command);
  if (rc != 0) {
    std::fprintf(stderr, "devado-host: the driver answered %d to the information command\n", rc);
    return 1;
  }
  PrintDriverInfo(record, options.hex);
  return 0;
}
