#include "countnet/deferred_log.h"

#include <cstdarg>
#include <cstdio>

#include "contracts/host_runtime.h"

void DeferredLog::Add(const char *format, ...) {
  if (count_ == kLines) return;  // more failures than steps cannot happen
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(lines_[count_++], kLineSize, format, arguments);
  va_end(arguments);
}

void DeferredLog::Flush(int level) {
  for (int i = 0; i < count_; ++i) err(level, "%s", lines_[i]);
  count_ = 0;
}
