#include "hevpro/log_capture.h"

namespace hevpro {

void CapturedLines::Add(int level, const char *text) {
  if (lines.size() >= kCapacity) lines.pop_front();
  lines.push_back(CapturedLine{level, text});
}

const CapturedLine *CapturedLines::At(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= lines.size()) return nullptr;
  return &lines[index];
}

}  // namespace hevpro
