// The arithmetic of a sample: differential counts per channel and their normalization
// by the sampled volume. Pure functions, no I/O.
#pragma once

#include <cstdint>

#include "countnet/codec_records.h"

// Only the first channelCount entries of the arrays are set.
struct SampleValues {
  int channelCount;
  std::uint8_t statusFlags;
  std::int32_t differential[kMaxChannels];  // particles in this size channel only
  float normalized[kMaxChannels];           // differential / divisor
};

// D = V / 10^E / 1000 with V the raw sample volume and E its decimal exponent; 1.0 when D
// is 0 or not a number, so that a station without a volume still reports its counts.
double NormalizationDivisor(std::int32_t sampleVolume, std::int16_t volumeExponent);

// A channel's count includes every larger particle; its differential is its count minus
// the counts of all higher channels, never below 0 nor above INT32_MAX.
void ComputeSampleValues(const SampleRecord &record, SampleValues *values);

// Decodes the first sample point of a sample-data message and computes its values:
// 0, or the decoder's failure result (values then untouched).
int DecodeSampleMessage(void *message, SampleValues *values);
