#include "config/line_scanner.h"

#include <cctype>
#include <cstdint>

namespace {

bool IsSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

constexpr std::uint64_t kSaturated = 1ull << 40;  // beyond every 32-bit value

}  // namespace

void LineScanner::SkipSpace() {
  while (IsSpace(*at_)) ++at_;
}

bool LineScanner::Literal(const char *word) {
  const char *at = at_;
  for (; *word != '\0'; ++word, ++at) {
    if (*at != *word) return false;
  }
  at_ = at;
  return true;
}

bool LineScanner::Number(bool *negative, std::uint64_t *magnitude, int maxChars) {
  SkipSpace();
  const char *at = at_;
  const char *end = at_ + maxChars;
  *negative = false;
  if (at < end && (*at == '+' || *at == '-')) *negative = *at++ == '-';
  if (at >= end || !IsDigit(*at)) return false;
  *magnitude = 0;
  for (; at < end && IsDigit(*at); ++at) {
    *magnitude = *magnitude * 10 + static_cast<unsigned>(*at - '0');
    if (*magnitude > kSaturated) *magnitude = kSaturated;
  }
  at_ = at;
  return true;
}

bool LineScanner::Unsigned(std::uint32_t *value, bool *fits, int maxChars) {
  bool negative;
  std::uint64_t magnitude;
  if (!Number(&negative, &magnitude, maxChars)) return false;
  // The C library would wrap a negative number around into a valid-looking one.
  *fits = magnitude <= 0xFFFFFFFFu && (!negative || magnitude == 0);
  *value = *fits ? static_cast<std::uint32_t>(magnitude) : 0xFFFFFFFFu;
  return true;
}

bool LineScanner::Signed(std::int32_t *value, bool *fits) {
  bool negative;
  std::uint64_t magnitude;
  if (!Number(&negative, &magnitude, 64)) return false;
  std::int64_t signedValue =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  *fits = signedValue >= INT32_MIN && signedValue <= INT32_MAX;
  *value = *fits ? static_cast<std::int32_t>(signedValue) : 0;
  return true;
}

bool LineScanner::Token(std::string *token) {
  SkipSpace();
  const char *start = at_;
  while (*at_ != '\0' && !IsSpace(*at_)) ++at_;
  token->assign(start, at_);
  return at_ != start;
}
