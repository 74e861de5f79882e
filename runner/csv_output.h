// The samples as CSV, for validation reports: one row per sample per station, one column
// per channel.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "runner/event_log.h"

class CsvOutput : public StationSink {
 public:
  // `channels`: the highest channel of any station's tags plus one: the columns.
  CsvOutput(std::FILE *file, int channels);
  // Writes the header: time,station,address,sample,air_flow,ch0,...,chN-1.
  void Header();
  void Sample(WallTime time, const StationState &station) override;

 private:
  std::FILE *file_;
  int channels_;
};
