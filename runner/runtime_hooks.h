// Connects the runtime's log sink and its observer to the event log for the lifetime of
// the object, and writes every log line with its time and level to the log file, if
// any. The runtime logs to standard error again afterwards.
#pragma once

#include <cstdio>
#include <string>

#include "hevpro/hevpro_control.h"
#include "runner/event_log.h"

class RuntimeHooks {
 public:
  explicit RuntimeHooks(EventLog *events) : events_(events) {}
  ~RuntimeHooks();
  RuntimeHooks(const RuntimeHooks &) = delete;
  RuntimeHooks &operator=(const RuntimeHooks &) = delete;

  // False with a reason when the log file cannot be opened for writing.
  bool OpenLogFile(const std::string &path, std::string *error);
  void Attach();

 private:
  static void OnLogLine(void *context, int level, const char *line);
  static void OnGateWrite(void *context, int gateId, double value);
  static void OnStatus(void *context, const HevCommStatusEvent *event);

  EventLog *events_;
  std::FILE *logFile_ = nullptr;
  bool attached_ = false;
};
