// A scanner for the init file's line forms, with the matching rules of the C library's
// formatted input (a blank matches any run of white space, numbers may carry a sign),
// but with numbers that must fit in 32 bits instead of wrapping around.
#pragma once

#include <cstdint>
#include <string>

class LineScanner {
 public:
  explicit LineScanner(const char *text) : at_(text) {}

  // Any run of white space, including none.
  void SkipSpace();
  // The exact characters of `word`.
  bool Literal(const char *word);
  // An optionally signed decimal number of at most `maxChars` characters (sign included),
  // after white space. False when no digit follows; *fits is false when the number is not
  // a 32-bit unsigned value (a negative one included).
  bool Unsigned(std::uint32_t *value, bool *fits, int maxChars = 64);
  // Likewise, for a signed 32-bit value.
  bool Signed(std::int32_t *value, bool *fits);
  // A run of non-white-space characters, after white space.
  bool Token(std::string *token);

 private:
  bool Number(bool *negative, std::uint64_t *magnitude, int maxChars);

  const char *at_;
};
