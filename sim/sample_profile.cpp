#include <algorithm>

#include "sim/packets.h"
#include "sim/random.h"

namespace sim {
namespace {

// Particles counted in the smallest size channel: a few thousand per sample, varying
// from one sample to the next.
constexpr std::uint32_t kBaseCount = 1000;
constexpr std::uint32_t kCountSpread = 4000;
// Each larger size holds 25% to 45% of the particles of the size below it: real air has
// far fewer large particles, and staying below one half keeps the count of every
// channel above the sum of all larger ones.
constexpr std::uint32_t kMinRatioPercent = 25;
constexpr std::uint32_t kRatioSpreadPercent = 21;

}  // namespace

SampleRecord MakeSample(const SampleProfile &profile, std::uint32_t sequence) {
  SampleRecord record{};
  int channels = std::clamp(profile.channelCount, 0, kMaxChannels);
  record.id115Value.Set(1);
  record.channelCount = static_cast<std::uint8_t>(channels);
  record.sampleVolume.Set(profile.sampleVolume);
  record.volumeExponent.Set(profile.volumeExponent);
  record.statusFlags = profile.statusFlags;

  Random random(profile.seed, sequence);
  std::uint32_t count = kBaseCount + random.Below(kCountSpread);
  for (int channel = 0; channel < channels; ++channel) {
    record.channelCounts[channel].Set(static_cast<std::int32_t>(count));
    count = count * (kMinRatioPercent + random.Below(kRatioSpreadPercent)) / 100;
  }
  return record;
}

}  // namespace sim
