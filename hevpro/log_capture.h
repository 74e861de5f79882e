// Log lines kept in memory for tests to inspect. Bounded: a long run keeps only its
// newest lines instead of growing without limit. Not locked by itself: the log lock
// guards it.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace hevpro {

struct CapturedLine {
  int level;
  std::string text;
};

class CapturedLines {
 public:
  static constexpr std::size_t kCapacity = 100000;

  void Add(int level, const char *text);
  int Count() const { return static_cast<int>(lines.size()); }
  // Null for an index out of range; index 0 is the oldest line kept.
  const CapturedLine *At(int index) const;
  void Clear() { std::deque<CapturedLine>().swap(lines); }

 private:
  std::deque<CapturedLine> lines;
};

}  // namespace hevpro
