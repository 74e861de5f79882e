#include "runner/plain_output.h"

#include <cmath>

#include "runner/json_text.h"

namespace {

constexpr int kStatusFailed = 1;

std::string Format(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Quoted(WallTime time) {
  return JsonString(IsoTime(time));
}

std::string StationNumber(int station) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", station);
  return text;
}

}  // namespace

void PlainOutput::Line(const std::string &text) {
  writer_.Put(text);
}

void PlainOutput::DriverInfo(const std::string &name, const std::string &banner, int blockSize) {
  if (json_) {
    Line("{\"event\":\"driver\",\"name\":" + JsonString(name) +
         ",\"banner\":" + JsonString(banner) + ",\"blockSize\":" + std::to_string(blockSize) + "}");
    return;
  }
  if (brief_) return;
  Line("Driver name: " + name);
  Line("Banner:" + banner);
  Line("Instance block: " + std::to_string(blockSize) + " bytes");
}

void PlainOutput::ColdStart(int result, int stations, const std::string &initFile, int updateRate) {
  if (json_) {
    Line("{\"event\":\"coldstart\",\"result\":" + std::to_string(result) +
         ",\"initFile\":" + JsonString(initFile) + ",\"stations\":" + std::to_string(stations) +
         ",\"updateRate\":" + std::to_string(updateRate) + "}");
    return;
  }
  if (brief_) return;
  Line("Cold start: result " + std::to_string(result) + "; " + std::to_string(stations) +
       " stations in " + initFile + ", update rate " + std::to_string(updateRate) + " s");
}

void PlainOutput::TagLine(const TagOutcome &outcome) {
  const TagEntry &tag = outcome.tag;
  if (json_) {
    std::string line = "{\"event\":\"tag\",\"address\":" + JsonString(tag.address) +
                       ",\"type\":\"" + GateTypeName(tag.gateType) +
                       "\",\"gate\":" + std::to_string(outcome.gateId) +
                       ",\"accepted\":" + (outcome.accepted ? "true" : "false");
    if (!outcome.reason.empty()) line += ",\"reason\":" + JsonString(outcome.reason);
    if (!outcome.note.empty()) line += ",\"note\":" + JsonString(outcome.note);
    Line(line + "}");
  } else if (!outcome.accepted) {
    Line("  refused " + tag.address + " (" + GateTypeName(tag.gateType) + "): " + outcome.reason);
  } else if (!outcome.note.empty()) {
    Line("  note: " + tag.address + ": " + outcome.note);
  }
}

void PlainOutput::Tags(const std::vector<TagOutcome> &outcomes) {
  int accepted = 0;
  for (const TagOutcome &outcome : outcomes) accepted += outcome.accepted ? 1 : 0;
  if (!json_ && !brief_) {
    Line("Tags: " + std::to_string(accepted) + " accepted, " +
         std::to_string(outcomes.size() - static_cast<std::size_t>(accepted)) + " refused");
  }
  for (const TagOutcome &outcome : outcomes) TagLine(outcome);
}

void PlainOutput::Findings(const std::vector<Finding> &findings, bool all) {
  for (const Finding &f : findings) {
    if (!all && f.severity == Severity::kFine) continue;
    if (json_) {
      Line("{\"event\":\"finding\",\"severity\":\"" + std::string(SeverityName(f.severity)) +
           "\",\"where\":" + JsonString(f.where) + ",\"line\":" + JsonString(f.what) +
           ",\"text\":" + JsonString(f.text) + "}");
      continue;
    }
    std::string severity = SeverityName(f.severity);
    severity.resize(9, ' ');
    std::string what = f.what.empty() ? "" : "'" + f.what + "': ";
    Line(severity + f.where + "  " + what + f.text);
  }
}

void PlainOutput::Running(int durationSeconds) {
  if (json_ || brief_) return;
  Line(durationSeconds > 0 ? "Running for " + std::to_string(durationSeconds) + " s"
                           : std::string("Running until Ctrl-C"));
}

void PlainOutput::Gate(WallTime time, const std::string &address, double value) {
  if (json_) {
    Line("{\"time\":" + Quoted(time) + ",\"event\":\"gate\",\"address\":" + JsonString(address) +
         ",\"value\":" + JsonNumber(value) + "}");
    return;
  }
  Line(IsoTime(time) + "  gate " + address + " = " + Format("%.6f", value));
}

void PlainOutput::Link(WallTime time, int station, int status, const std::string &cause) {
  const char *state = status == kStatusFailed ? "failed" : "restored";
  if (json_) {
    Line("{\"time\":" + Quoted(time) +
         ",\"event\":\"link\",\"station\":" + std::to_string(station) + ",\"status\":\"" + state +
         "\"" + (cause.empty() ? "" : ",\"cause\":" + JsonString(cause)) + "}");
    return;
  }
  Line(IsoTime(time) + "  link station " + StationNumber(station) + " " + state +
       (cause.empty() ? "" : ": " + cause));
}

void PlainOutput::Mqtt(WallTime time, const std::string &text) {
  if (json_) {
    Line("{\"time\":" + Quoted(time) + ",\"event\":\"mqtt\",\"text\":" + JsonString(text) + "}");
    return;
  }
  Line(IsoTime(time) + "  mqtt: " + text);
}

void PlainOutput::Publishing(const PublishSummary &summary, const std::string &prefix) {
  if (json_) {
    Line("{\"event\":\"mqttSummary\",\"broker\":" + JsonString(summary.broker) + ",\"prefix\":" +
         JsonString(prefix) + ",\"published\":" + std::to_string(summary.published) +
         ",\"dropped\":" + std::to_string(summary.dropped) + ",\"unsent\":" +
         std::to_string(summary.unsent) + ",\"stored\":" + std::to_string(summary.stored) +
         ",\"refused\":" + std::to_string(summary.refused) +
         ",\"connections\":" + std::to_string(summary.connections) + "}");
    return;
  }
  Line("MQTT: " + std::to_string(summary.published) + " samples published to " + summary.broker +
       " under " + prefix + "/, " + std::to_string(summary.dropped) + " dropped (queue full), " +
       std::to_string(summary.unsent) + " left unsent" +
       (summary.stored > 0 ? ", " + std::to_string(summary.stored) + " kept in the store" : "") +
       (summary.refused > 0 ? ", " + std::to_string(summary.refused) + " refused by the broker"
                            : "") +
       "; connected " + std::to_string(summary.connections) +
       (summary.connections == 1 ? " time" : " times"));
}

void PlainOutput::Connect(WallTime time, int station, bool connected, const std::string &cause) {
  if (json_) {
    Line("{\"time\":" + Quoted(time) + ",\"event\":\"connect\",\"station\":" +
         std::to_string(station) + ",\"connected\":" + (connected ? "true" : "false") +
         (cause.empty() ? "" : ",\"cause\":" + JsonString(cause)) + "}");
    return;
  }
  Line(IsoTime(time) + "  station " + StationNumber(station) +
       (connected ? " connected" : " could not be connected") +
       (cause.empty() ? "" : ": " + cause));
}

namespace {

// "ok", or what keeps the station from counting as working.
std::string Verdict(const StationState &s, int samplesWanted) {
  if (s.link == LinkState::kNotConnected || s.link == LinkState::kWaiting) {
    return "not connected" + (s.cause.empty() ? "" : ": " + s.cause);
  }
  if (s.link == LinkState::kFailed) return "failed" + (s.cause.empty() ? "" : ": " + s.cause);
  if (s.completed < samplesWanted) {
    return "connected, but " + std::to_string(s.completed) + " of " +
           std::to_string(samplesWanted) + " samples arrived";
  }
  return "ok";
}

std::string AirFlowWord(const StationState &s) {
  if (!s.hasAirFlowTag) return "";
  return s.airFlow == AirFlowState::kOk ? "ok" : s.airFlow == AirFlowState::kFail ? "fail" : "";
}

}  // namespace

void PlainOutput::StationLines(const std::vector<StationState> &stations, int samplesWanted) {
  for (const StationState &s : stations) {
    std::string verdict = Verdict(s, samplesWanted);
    if (json_) {
      std::string values;
      for (const ChannelReading &c : s.channels) {
        values +=
            std::string(values.empty() ? "" : ",") + (c.written ? JsonNumber(c.value) : "null");
      }
      Line("{\"event\":\"station\",\"station\":" + std::to_string(s.number) +
           ",\"address\":" + JsonString(s.address) +
           ",\"ok\":" + (verdict == "ok" ? "true" : "false") + ",\"state\":" + JsonString(verdict) +
           ",\"samples\":" + std::to_string(s.completed) + ",\"values\":[" + values + "]" +
           ",\"airFlow\":" + (AirFlowWord(s).empty() ? "null" : JsonString(AirFlowWord(s))) +
           ",\"laserFault\":" + (s.laserFault ? "true" : "false") + "}");
      continue;
    }
    std::string line = "station " + StationNumber(s.number) + "  " + s.address + "  " + verdict;
    if (s.sampled) {
      line += "; " + std::to_string(s.completed) + (s.completed == 1 ? " sample" : " samples") +
              ", last " + IsoTime(s.lastSample);
      for (const ChannelReading &c : s.channels) {
        if (c.written) line += ", ch " + std::to_string(c.channel) + Format(" = %.6f", c.value);
      }
      if (!AirFlowWord(s).empty()) line += ", air flow " + AirFlowWord(s);
      if (s.laserFault) line += ", laser FAIL";
    }
    Line(line);
  }
}

void PlainOutput::Summary(double seconds, int endResult,
                          const std::vector<StationState> &stations) {
  if (json_) {
    std::string line = "{\"event\":\"summary\",\"seconds\":" + Format("%.1f", seconds) +
                       ",\"endResult\":" + std::to_string(endResult) + ",\"stations\":[";
    for (std::size_t i = 0; i < stations.size(); ++i) {
      const StationState &s = stations[i];
      line += std::string(i > 0 ? "," : "") + "{\"station\":" + std::to_string(s.number) +
              ",\"address\":" + JsonString(s.address) +
              ",\"samples\":" + std::to_string(s.samples) +
              ",\"writes\":" + std::to_string(s.writes) +
              ",\"failures\":" + std::to_string(s.failures) +
              ",\"recoveries\":" + std::to_string(s.recoveries) + "}";
    }
    Line(line + "]}");
    return;
  }
  Line("Summary: ran " + Format("%.1f", seconds) + " s; driver ended with result " +
       std::to_string(endResult));
  Line("  station  address          samples  gate writes  link failures  recoveries");
  for (const StationState &s : stations) {
    char text[160];
    std::snprintf(text, sizeof text, "  %-7s  %-15s  %7ld  %11ld  %13ld  %10ld",
                  StationNumber(s.number).c_str(), s.address.c_str(), s.samples, s.writes,
                  s.failures, s.recoveries);
    Line(text);
  }
}
