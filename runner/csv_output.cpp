#include "runner/csv_output.h"

CsvOutput::CsvOutput(std::FILE *file, int channels) : file_(file), channels_(channels) {}

void CsvOutput::Header() {
  std::fputs("time,station,address,sample,air_flow", file_);
  for (int channel = 0; channel < channels_; ++channel) std::fprintf(file_, ",ch%d", channel);
  std::fputs("\n", file_);
  std::fflush(file_);
}

// Cells that a station has no value for stay empty: a channel without a tag, the air flow
// without its tag or not reported by the sample.
void CsvOutput::Sample(WallTime time, const StationState &station) {
  const char *airFlow = !station.hasAirFlowTag                   ? ""
                        : station.airFlow == AirFlowState::kOk   ? "ok"
                        : station.airFlow == AirFlowState::kFail ? "fail"
                                                                 : "";
  std::fprintf(file_, "%s,%d,%s,%ld,%s", IsoTime(time).c_str(), station.number,
               station.address.c_str(), station.samples, airFlow);
  for (int channel = 0; channel < channels_; ++channel) {
    std::fputs(",", file_);
    for (const ChannelReading &reading : station.channels) {
      if (reading.channel == channel && reading.written) std::fprintf(file_, "%.6f", reading.value);
    }
  }
  std::fputs("\n", file_);
  std::fflush(file_);
}
