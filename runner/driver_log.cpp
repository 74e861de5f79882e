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

// The driver's detail lines that say why a connect or a link failed.
bool RecognizeCause(const std::string &text, LineFacts *facts) {
  char address[64] = {};
  int station = 0, number = 0, end = 0;
  long long ms = 0;
  const char *line = text.c_str();
  if (std::sscanf(line, "OxaDOV%*d: InitDOVCh() IP Address %63s %n", address, &end) == 1 &&
      end > 0) {
    facts->kind = LineKind::kConnectCause;
    facts->address = address;
    facts->reason = text.substr(static_cast<std::size_t>(end));
  } else if (std::sscanf(line, "OxaDOV%*d: Station %d sent nothing for %lld ms%n", &station, &ms,
                         &end) == 2 &&
             EndsAt(text, end)) {
    facts->kind = LineKind::kLinkCause;
    char words[64];
    std::snprintf(words, sizeof words, "went silent for %.1f s", static_cast<double>(ms) / 1000);
    facts->reason = words;
  } else if (std::sscanf(line, "OxaDOV%*d: Station %d took a packet only in part%n", &station,
                         &end) == 1 &&
             EndsAt(text, end)) {
    facts->kind = LineKind::kLinkCause;
    facts->reason = "a packet to it could not be sent whole";
  } else if (std::sscanf(line, "DEVADO: ProcessMessages() Station %d %n", &station, &end) == 1 &&
             end > 0) {
    facts->kind = LineKind::kLinkCause;
    facts->reason = text.substr(static_cast<std::size_t>(end));
  } else if (std::sscanf(line, "DEVADO: ProcessMessages() Device %d - Countnet %n", &number,
                         &end) == 1 &&
             end > 0) {
    std::string what = text.substr(static_cast<std::size_t>(end));
    if (what.rfind("Laser Fail", 0) == 0) facts->kind = LineKind::kLaserFault;
    if (what.rfind("Flow rate Fail", 0) == 0) facts->kind = LineKind::kFlowFault;
    station = number;
  } else {
    return false;
  }
  if (!facts->reason.empty() && facts->reason.back() == '\n') facts->reason.pop_back();
  facts->station = station;
  return facts->kind != LineKind::kOther;
}

}  // namespace

LineFacts RecognizeLine(const std::string &text) {
  LineFacts facts;
  if (RecognizeCause(text, &facts)) return facts;
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
