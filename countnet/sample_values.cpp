#include "countnet/sample_values.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "countnet/codecs.h"

double NormalizationDivisor(std::int32_t sampleVolume, std::int16_t volumeExponent) {
  double divisor = static_cast<double>(sampleVolume) / std::pow(10.0, volumeExponent) / 1000.0;
  if (divisor == 0.0 || std::isnan(divisor)) return 1.0;
  return divisor;
}

void ComputeSampleValues(const SampleRecord &record, SampleValues *values) {
  int channels = record.channelCount;
  if (channels > kMaxChannels) channels = kMaxChannels;
  values->channelCount = channels;
  values->statusFlags = record.statusFlags;
  double divisor = NormalizationDivisor(record.sampleVolume.Get(), record.volumeExponent.Get());
  // Summed in 64 bits from the highest channel down: counts near the 32-bit limit
  // cannot overflow.
  std::int64_t higherChannels = 0;
  for (int i = channels - 1; i >= 0; --i) {
    std::int64_t count = record.channelCounts[i].Get();
    std::int64_t exact = count - higherChannels;
    std::int32_t differential = 0;
    if (exact > 0) {
      differential = exact > std::numeric_limits<std::int32_t>::max()
                         ? std::numeric_limits<std::int32_t>::max()
                         : static_cast<std::int32_t>(exact);
    }
    values->differential[i] = differential;
    values->normalized[i] = static_cast<float>(static_cast<double>(differential) / divisor);
    higherChannels += count;
  }
}

int DecodeSampleMessage(void *message, SampleValues *values) {
  SampleRecord record;
  std::memset(&record, 0, sizeof record);
  int rc = iDataGetSampleRecord(message, 0, 1, &record);
  if (rc != 0) return rc;
  ComputeSampleValues(record, values);
  return 0;
}
