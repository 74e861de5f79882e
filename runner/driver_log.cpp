#include "runner/driver_log.h"

#include <cstdio>

namespace {

struct StationPattern {
  const char *format;  // reads the station number, then %n at the end of the line
  LineKind kind;
};

constexpr StationPattern kStationPatterns[] = {
    {"OxaDOV%*d: InitFms() PLC %d I.P. %*s Socket %*d connected successfully%n",
     LineKind::kStationConnected},
    {"OxaDOV%*d: InitFms() Failed to connect to PLC %d I.P. addr %*s%n",
     LineKind::kStationNotConnected},
    {"OxaDOV%*d: SocketsReOpenThread() PLC %d IP Addr %*s reconnected successfully%n",
     LineKind::kStationReconnected},
};

constexpr const char *kRefusalPrefixes[] = {"DEVADO: SingleParse() ", "DEVADO: ParseAddress() "};
constexpr std::size_t kDriverPrefixLength = 8;  // "DEVADO: "

bool EndsAt(const std::string &text, int end) {
  std::size_t at = static_cast<std::size_t>(end);
  return end > 0 && (at == text.size() || (at + 1 == text.size() && text[at] == '\n'));
}

}  // namespace

LineFacts RecognizeLine(const std::string &text) {
  LineFacts facts;
  for (const StationPattern &pattern : kStationPatterns) {
    int station = 0;
    int end = 0;
    if (std::sscanf(text.c_str(), pattern.format, &station, &end) == 1 && EndsAt(text, end)) {
      facts.kind = pattern.kind;
      facts.station = station;
      return facts;
    }
  }
  int channel = 0;
  long difference = 0;
  float value = 0;
  int end = 0;
  if (std::sscanf(text.c_str(), "Channel %d Diff Val %ld Normalized diff val: %f%n", &channel,
                  &difference, &value, &end) == 3 &&
      EndsAt(text, end)) {
    facts.kind = LineKind::kChannelValue;
    return facts;
  }
  bool armed = text.rfind("DEVADO: SetupSamplingConfig() Configuring sampling for Tag '", 0) == 0 &&
               text.find("' successful") != std::string::npos;
  if (armed || text.rfind("DEVADO: SendPacket(). Packet '", 0) == 0) {
    facts.kind = LineKind::kArming;
    return facts;
  }
  for (const char *prefix : kRefusalPrefixes) {
    if (text.rfind(prefix, 0) == 0) {
      facts.kind = LineKind::kParseRefusal;
      facts.reason = text.substr(kDriverPrefixLength);
      if (!facts.reason.empty() && facts.reason.back() == '\n') facts.reason.pop_back();
      return facts;
    }
  }
  return facts;
}

std::string RefusalReason(const std::vector<std::string> &lines) {
  std::string reason;
  for (const std::string &line : lines) {
    LineFacts facts = RecognizeLine(line);
    if (facts.kind != LineKind::kParseRefusal) continue;
    reason += (reason.empty() ? "" : " / ") + facts.reason;
  }
  return reason;
}
