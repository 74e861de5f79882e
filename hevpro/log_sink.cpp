#include "hevpro/log_sink.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "contracts/host_runtime.h"
#include "hevpro/hevpro_control.h"
#include "hevpro/log_capture.h"
#include "hevpro/no_throw.h"
#include "hevpro/runtime_state.h"

using namespace hevpro;

namespace {

// Longer lines are cut. err() runs on the driver's threads, whose stacks are only
// 32 KiB on Windows, so the buffer stays well below that.
constexpr std::size_t kLineBufferSize = 2048;
constexpr int kFileOpenFailed = 1;

enum class SinkKind { kStderr, kFile, kCallback, kOff };

// One lock for the sink and the capture, so that lines never interleave and the capture
// keeps the order in which the sink saw them. Nothing takes it while holding the state
// lock, so a callback may still use the gate and client calls.
struct LogState {
  std::mutex lock;
  SinkKind sink = SinkKind::kStderr;
  std::FILE *file = nullptr;
  HevLogCallback callback = nullptr;
  void *callbackContext = nullptr;
  bool capturing = false;
  CapturedLines captured;
  // Whether a line goes anywhere; read without the lock so that a host that logs nothing
  // pays nothing for the driver's detail lines.
  std::atomic<bool> heard{true};

  void UpdateHeard() { heard.store(sink != SinkKind::kOff || capturing); }
};

LogState &Log() {
  // Never destroyed: driver threads may still log while the process exits.
  static LogState *log = new LogState;
  return *log;
}

// Set while this thread is inside the sink: a callback that logs would otherwise
// deadlock on the log lock. Such a line is dropped.
thread_local bool insideSink = false;

struct SinkEntry {
  SinkEntry() { insideSink = true; }
  ~SinkEntry() { insideSink = false; }
};

// Replaces the sink; a log file that is no longer the sink is closed.
void SelectSink(SinkKind sink, std::FILE *file, HevLogCallback callback, void *context) {
  LogState &log = Log();
  std::lock_guard<std::mutex> guard(log.lock);
  if (log.file != nullptr) std::fclose(log.file);
  log.sink = sink;
  log.file = file;
  log.callback = callback;
  log.callbackContext = context;
  log.UpdateHeard();
}

// "HH:MM:SS.mmm [level] text", local time, one line.
void WriteStamped(std::FILE *out, int level, const char *text) {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  int millis = static_cast<int>(sinceEpoch.count() % 1000);
  // The log lock makes this the only caller of localtime in the runtime.
  const std::tm *local = std::localtime(&seconds);
  std::tm time = local != nullptr ? *local : std::tm{};
  std::size_t length = std::strlen(text);
  const char *newline = length > 0 && text[length - 1] == '\n' ? "" : "\n";
  std::fprintf(out, "%02d:%02d:%02d.%03d [%d] %s%s", time.tm_hour, time.tm_min, time.tm_sec, millis,
               level, text, newline);
  std::fflush(out);
}

void WriteToSink(const LogState &log, int level, const char *text) {
  switch (log.sink) {
    case SinkKind::kStderr:
      WriteStamped(stderr, level, text);
      break;
    case SinkKind::kFile:
      WriteStamped(log.file, level, text);
      break;
    case SinkKind::kCallback:
      log.callback(log.callbackContext, level, text);
      break;
    case SinkKind::kOff:
      break;
  }
}

void DeliverLine(int level, const char *text) {
  if (insideSink) return;
  {
    LogState &log = Log();
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.capturing) log.captured.Add(level, text);
    SinkEntry entry;
    WriteToSink(log, level, text);
  }
  MarkChanged();
}

}  // namespace

namespace hevpro {

void ResetLogging() {
  SelectSink(SinkKind::kStderr, nullptr, nullptr, nullptr);
  LogState &log = Log();
  std::lock_guard<std::mutex> guard(log.lock);
  log.capturing = false;
  log.captured.Clear();
  log.UpdateHeard();
}

}  // namespace hevpro

extern "C" void err(int level, const char *format, ...) {
  if (!Log().heard.load()) return;
  char text[kLineBufferSize];
  text[0] = '\0';
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
    va_end(args);
  }
  IgnoringFailure([&] { DeliverLine(level, text); });
}

extern "C" void HevCtlLogToStderr(void) {
  IgnoringFailure([] { SelectSink(SinkKind::kStderr, nullptr, nullptr, nullptr); });
}

extern "C" int HevCtlLogToFile(const char *path) {
  if (path == nullptr) return kHevBadArgument;
  std::FILE *file = std::fopen(path, "a");
  if (file == nullptr) return kFileOpenFailed;
  try {
    SelectSink(SinkKind::kFile, file, nullptr, nullptr);
  } catch (...) {
    std::fclose(file);
    return kFileOpenFailed;
  }
  return 0;
}

extern "C" void HevCtlLogToCallback(HevLogCallback callback, void *context) {
  IgnoringFailure([&] {
    if (callback == nullptr) {
      SelectSink(SinkKind::kOff, nullptr, nullptr, nullptr);
    } else {
      SelectSink(SinkKind::kCallback, nullptr, callback, context);
    }
  });
}

extern "C" void HevCtlLogOff(void) {
  IgnoringFailure([] { SelectSink(SinkKind::kOff, nullptr, nullptr, nullptr); });
}

extern "C" void HevCtlCaptureStart(void) {
  IgnoringFailure([] {
    LogState &log = Log();
    std::lock_guard<std::mutex> guard(log.lock);
    log.captured.Clear();
    log.capturing = true;
    log.UpdateHeard();
  });
}

extern "C" void HevCtlCaptureStop(void) {
  IgnoringFailure([] {
    LogState &log = Log();
    std::lock_guard<std::mutex> guard(log.lock);
    log.capturing = false;
    log.UpdateHeard();
  });
}

extern "C" int HevCtlCapturedCount(void) {
  return ResultOrFailure(0, [] {
    LogState &log = Log();
    std::lock_guard<std::mutex> guard(log.lock);
    return log.captured.Count();
  });
}

extern "C" int HevCtlCapturedLine(int index, int *level, char *text, int textSize) {
  return ResultOrFailure<int>(kHevInternalFailure, [&] {
    LogState &log = Log();
    std::lock_guard<std::mutex> guard(log.lock);
    const CapturedLine *line = log.captured.At(index);
    if (line == nullptr) return static_cast<int>(kHevBadArgument);
    if (level != nullptr) *level = line->level;
    if (text != nullptr && textSize > 0) {
      std::size_t copied = std::min(line->text.size(), static_cast<std::size_t>(textSize) - 1);
      std::memcpy(text, line->text.data(), copied);
      text[copied] = '\0';
    }
    return 0;
  });
}
