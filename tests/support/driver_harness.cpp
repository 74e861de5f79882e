#include "tests/support/driver_harness.h"

#include <cstring>

#include "entry/oxa_main.h"
#include "hevpro/hevpro_control.h"

namespace testing_support {

HostBlock::HostBlock(unsigned char fill) : bytes_(kInstanceBlockSize, fill) {}

CommandBlock MakeCommand(InstanceBlock *block, std::int32_t code, void *params,
                         std::uint16_t instanceNumber) {
  CommandBlock command;
  std::memset(&command, 0, sizeof command);
  command.instanceBlock.Set(block);
  command.command.Set(code);
  command.instanceNumber.Set(instanceNumber);
  command.params.Set(params);
  return command;
}

int Send(InstanceBlock *block, std::int32_t code, void *params, std::uint16_t instance) {
  CommandBlock command = MakeCommand(block, code, params, instance);
  return OxaMain(&command);
}

LogCapture::LogCapture() {
  HevCtlLogOff();
  HevCtlCaptureStart();
}

LogCapture::~LogCapture() {
  HevCtlCaptureStop();
  HevCtlLogToStderr();
}

std::vector<LogLine> LogCapture::Lines() const {
  std::vector<LogLine> lines;
  int count = HevCtlCapturedCount();
  for (int i = 0; i < count; ++i) {
    char text[4096];
    int level = -1;
    if (HevCtlCapturedLine(i, &level, text, sizeof text) == 0) lines.push_back({level, text});
  }
  return lines;
}

std::vector<std::string> LogCapture::Texts() const {
  std::vector<std::string> texts;
  for (const LogLine &line : Lines()) texts.push_back(line.text);
  return texts;
}

}  // namespace testing_support
