#include "runner/json_text.h"

#include <cmath>
#include <cstdio>

namespace {

// Whether the bytes are well-formed UTF-8 (no check for overlong forms or surrogates,
// which JSON parsers accept as they come).
bool IsUtf8(const std::string &text) {
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    int more = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
    if (more < 0 || text.size() - i <= static_cast<std::size_t>(more)) return false;
    for (int k = 1; k <= more; ++k) {
      if ((static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) >> 6) != 0x2) {
        return false;
      }
    }
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

}  // namespace

// Text that is not UTF-8 (a tag address in a single-byte code page, say) is taken byte
// for byte as Latin-1, so that the line stays valid JSON.
std::string JsonString(const std::string &text) {
  bool latin1 = !IsUtf8(text);
  std::string json = "\"";
  for (unsigned char c : text) {
    if (latin1 && c >= 0x80) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else {
      json += static_cast<char>(c);
    }
  }
  return json + "\"";
}

std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}
