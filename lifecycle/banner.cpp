#include "lifecycle/banner.h"

#include <array>

namespace {

constexpr std::size_t kLineWidth = 61;
constexpr std::size_t kInnerWidth = kLineWidth - 2;

// Code page 437 box drawing and shading.
constexpr char kTopLeft = '\xDA', kTopRight = '\xBF', kBottomLeft = '\xC0', kBottomRight = '\xD9',
               kHorizontal = '\xC4', kVertical = '\xB3';
constexpr char kSolid = '\xDB', kDark = '\xB2', kMedium = '\xB1', kLight = '\xB0';

class BannerText {
 public:
  constexpr void Put(char c, std::size_t count = 1) {
    for (std::size_t i = 0; i < count; ++i) text_[length_++] = c;
  }
  constexpr void Put(const char *s) {
    while (*s != '\0') text_[length_++] = *s++;
  }
  // Left-aligned text padded with spaces to `width`.
  constexpr void PutPadded(const char *s, std::size_t width) {
    std::size_t start = length_;
    Put(s);
    Put(' ', width - (length_ - start));
  }
  constexpr std::size_t Length() const { return length_; }
  constexpr const std::array<char, kBannerLength + 1> &Text() const { return text_; }

 private:
  std::array<char, kBannerLength + 1> text_{};
  std::size_t length_ = 0;
};

constexpr BannerText BuildBanner() {
  BannerText b;
  b.Put('\n');
  b.Put(kTopLeft);
  b.Put(kHorizontal, kInnerWidth);
  b.Put(kTopRight);
  b.Put('\n');

  b.Put(kVertical);
  b.Put(' ');
  b.Put(kSolid, 5);
  b.Put(kDark, 6);
  b.Put(kMedium, 6);
  b.Put(kLight, 5);
  b.Put(" O X A C N T ");
  b.Put(kLight, 5);
  b.Put(kMedium, 6);
  b.Put(kDark, 6);
  b.Put(kSolid, 5);
  b.Put(' ');
  b.Put(kVertical);
  b.Put('\n');

  b.Put(kVertical);
  b.Put(' ', 19);
  b.Put("DOV Driver installed.");
  b.Put(' ', 19);
  b.Put(kVertical);
  b.Put('\n');

  b.Put(kVertical);
  b.Put(' ', 5);
  b.Put("CountNet Particle Counters,");
  b.Put(' ', 8);
  b.Put("Ethernet TCP/IP");
  b.Put(' ', 4);
  b.Put(kVertical);
  b.Put('\n');

  b.Put(kVertical);
  b.PutPadded("Version 7.50", kInnerWidth);
  b.Put(kVertical);
  b.Put('\n');

  b.Put(kBottomLeft);
  b.Put(kHorizontal, kInnerWidth);
  b.Put(kBottomRight);
  b.Put('\n');
  return b;
}

constexpr BannerText kBanner = BuildBanner();

constexpr bool EveryLineIsFullWidth() {
  for (std::size_t line = 0; line < 6; ++line) {
    if (kBanner.Text()[line * (kLineWidth + 1)] != '\n') return false;
  }
  return kBanner.Text()[kBannerLength - 1] == '\n';
}

static_assert(kBanner.Length() == kBannerLength);
static_assert(EveryLineIsFullWidth());

}  // namespace

const char *DriverName() {
  return "DOV TCP/IP";
}
const char *Banner() {
  return kBanner.Text().data();
}
