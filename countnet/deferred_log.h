// Log lines formed where no host call may be made (under a station's lock, say) and
// logged once that is over, in the order they were formed.
#pragma once

class DeferredLog {
 public:
  void Add(const char *format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // Logs the lines at `level` and forgets them.
  void Flush(int level);

 private:
  static constexpr int kLines = 8;
  static constexpr int kLineSize = 200;
  char lines_[kLines][kLineSize];
  int count_ = 0;
};
