// The tags that the runner defines as gates and gives the driver to parse: from a tag
// list file, or the default set of every configured station.
#pragma once

#include <string>
#include <vector>

struct TagEntry {
  std::string address;
  int gateType = 0;  // the runtime's gate type code
  int line = 0;      // in the tag list; 0 for a default tag
};

// One line of a tag list: "ADDRESS TYPE", a # comment or blank. True with *hasTag set
// when the line holds a tag, true without for a blank or comment line; false with a
// message otherwise.
bool ParseTagLine(const std::string &line, TagEntry *tag, bool *hasTag, std::string *error);

// Every tag of the file. False when the file cannot be read or a line is in error;
// each problem is added to `errors` as "FILE:LINE: message" (or "FILE: message").
bool ReadTagList(const std::string &path, std::vector<TagEntry> *tags,
                 std::vector<std::string> *errors);

// Channel tags 0..channels-1 (float) and the air-flow tag (unsigned 16) of each station.
std::vector<TagEntry> DefaultTags(const std::vector<int> &stations, int channels);

// "float", "signed16", "unsigned16".
const char *GateTypeName(int gateType);

// The gate addresses that the driver writes: "sssFcccc" and "sssAIR_FLOW".
std::string ChannelAddress(int station, int channel);
std::string AirFlowAddress(int station);
