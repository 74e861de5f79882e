#include "runner/runtime_hooks.h"

#include <cerrno>
#include <cstring>

#include "hevpro/hevpro_control.h"

RuntimeHooks::~RuntimeHooks() {
  if (attached_) {
    HevCtlObserve(nullptr, nullptr, nullptr);
    HevCtlLogToStderr();
  }
  if (logFile_ != nullptr) std::fclose(logFile_);
}

bool RuntimeHooks::OpenLogFile(const std::string &path, std::string *error) {
  logFile_ = std::fopen(path.c_str(), "w");
  if (logFile_ == nullptr) *error = path + ": " + std::strerror(errno);
  return logFile_ != nullptr;
}

void RuntimeHooks::Attach() {
  HevCtlLogToCallback(&RuntimeHooks::OnLogLine, this);
  HevCtlObserve(&RuntimeHooks::OnGateWrite, &RuntimeHooks::OnStatus, this);
  attached_ = true;
}

// The runtime passes lines one at a time, so the file needs no lock of its own.
void RuntimeHooks::OnLogLine(void *context, int level, const char *line) {
  auto *hooks = static_cast<RuntimeHooks *>(context);
  std::string text = line != nullptr ? line : "";
  if (hooks->logFile_ != nullptr) {
    const char *newline = !text.empty() && text.back() == '\n' ? "" : "\n";
    std::fprintf(hooks->logFile_, "%s [%d] %s%s", IsoTime(std::chrono::system_clock::now()).c_str(),
                 level, text.c_str(), newline);
    std::fflush(hooks->logFile_);
  }
  hooks->events_->OnLogLine(level, text);
}

void RuntimeHooks::OnGateWrite(void *context, int gateId, double value) {
  static_cast<RuntimeHooks *>(context)->events_->OnGateWrite(gateId, value);
}

void RuntimeHooks::OnStatus(void *context, const HevCommStatusEvent *event) {
  static_cast<RuntimeHooks *>(context)->events_->OnLinkStatus(event->station, event->status);
}
