#include "link/station_address.h"

namespace {

constexpr int kParts = 4;
constexpr int kMaxDigits = 3;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// One number of the dotted form at *text, advancing past it.
bool ReadPart(const char **text, std::uint32_t *part) {
  int digits = 0;
  std::uint32_t value = 0;
  for (; IsDigit(**text) && digits < kMaxDigits; ++*text, ++digits) {
    value = value * 10 + static_cast<std::uint32_t>(**text - '0');
  }
  *part = value;
  return digits > 0 && value <= 255 && !IsDigit(**text);
}

}  // namespace

bool ParseStationAddress(const char *text, std::uint32_t *networkOrder) {
  if (text == nullptr) return false;
  unsigned char bytes[kParts];
  for (int i = 0; i < kParts; ++i) {
    if (i > 0 && *text++ != '.') return false;
    std::uint32_t part = 0;
    if (!ReadPart(&text, &part)) return false;
    bytes[i] = static_cast<unsigned char>(part);
  }
  if (*text != '\0') return false;
  if (bytes[0] == 255 && bytes[1] == 255 && bytes[2] == 255 && bytes[3] == 255) return false;
  // The first number is the most significant: in memory, network order puts it first.
  std::uint32_t value = 0;
  for (int i = kParts - 1; i >= 0; --i) value = value << 8 | bytes[i];
  if (networkOrder != nullptr) *networkOrder = value;
  return true;
}
