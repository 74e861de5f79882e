// The driver's log lines that the runner acts on: the per-station connect results of
// cold start, the re-open thread's reconnections, and the reasons for refusing a tag.
#pragma once

#include <string>
#include <vector>

enum class LineKind {
  kOther,
  kStationConnected,     // cold start connected the station
  kStationNotConnected,  // cold start could not connect it
  kStationReconnected,   // the re-open thread connected it again
  kParseRefusal,         // a reason for refusing a tag
  kChannelValue,         // a channel's value in a sample, which the gates show anyway
  kArming,               // a channel tag armed, or its packet sent: one line per tag at
                         // every (re)arming of a station
  kConnectCause,         // why a connect to an address failed
  kLinkCause,            // why the driver is about to fail a station's link
  kLaserFault,           // a sample reported the laser failed
  kFlowFault,            // a sample reported the air flow failed
};

struct LineFacts {
  LineKind kind = LineKind::kOther;
  int station = 0;      // for the station lines
  std::string reason;   // for a refusal: the line without the driver's prefix; for a
                        // cause: the cause in a few words
  std::string address;  // for a connect cause
};

LineFacts RecognizeLine(const std::string &text);

// The refusal reasons among `lines`, joined by " / "; empty when there is none.
std::string RefusalReason(const std::vector<std::string> &lines);
