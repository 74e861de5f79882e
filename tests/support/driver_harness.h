// Plays the host's part around the driver for tests: the instance block, command blocks
// and the log lines that the stand-in host runtime captured.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contracts/command_block.h"
#include "contracts/instance_block.h"

namespace testing_support {

// An instance block as the host allocates it, filled with `fill` to show what the driver
// writes and what it leaves alone.
class HostBlock {
 public:
  explicit HostBlock(unsigned char fill = 0);
  InstanceBlock *get() { return reinterpret_cast<InstanceBlock *>(bytes_.data()); }
  unsigned char *bytes() { return bytes_.data(); }
  std::vector<unsigned char> Snapshot() const { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

CommandBlock MakeCommand(InstanceBlock *block, std::int32_t code, void *params,
                         std::uint16_t instanceNumber = 1);

// Sends one command through the exported entry point.
int Send(InstanceBlock *block, std::int32_t code, void *params, std::uint16_t instance = 1);

struct LogLine {
  int level;
  std::string text;
};

// Captures the log lines of the stand-in host runtime for the lifetime of the object;
// nothing goes to standard error meanwhile.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::vector<LogLine> Lines() const;
  std::vector<std::string> Texts() const;
};

}  // namespace testing_support
