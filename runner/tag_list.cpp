#include "runner/tag_list.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "hevpro/hevpro_control.h"

namespace {

constexpr std::size_t kMaxAddressLength = 155;  // what the runtime's gate database keeps

struct TypeName {
  const char *name;
  int code;
};

constexpr TypeName kTypeNames[] = {
    {"float", kHevGateFloat},           {"signed16", kHevGateSigned16}, {"int16", kHevGateSigned16},
    {"unsigned16", kHevGateUnsigned16}, {"uint16", kHevGateUnsigned16},
};

bool FindType(const std::string &name, int *code) {
  for (const TypeName &type : kTypeNames) {
    if (name == type.name) {
      *code = type.code;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseTagLine(const std::string &line, TagEntry *tag, bool *hasTag, std::string *error) {
  std::istringstream words(line.substr(0, line.find('#')));
  std::string address, type, extra;
  *hasTag = false;
  if (!(words >> address)) return true;
  if (!(words >> type)) {
    *error = "tag " + address + " has no type (float, signed16, unsigned16)";
    return false;
  }
  if (words >> extra) {
    *error = "unexpected '" + extra + "' after the type";
    return false;
  }
  if (!FindType(type, &tag->gateType)) {
    *error = "unknown type '" + type + "' (float, signed16, int16, unsigned16, uint16)";
    return false;
  }
  if (address.size() > kMaxAddressLength) {
    *error = "address longer than " + std::to_string(kMaxAddressLength) + " characters";
    return false;
  }
  tag->address = address;
  *hasTag = true;
  return true;
}

bool ReadTagList(const std::string &path, std::vector<TagEntry> *tags,
                 std::vector<std::string> *errors) {
  std::ifstream file(path);
  if (!file) {
    errors->push_back(path + ": cannot open the tag list");
    return false;
  }
  std::map<std::string, int> firstLine;
  std::string line;
  std::size_t errorsBefore = errors->size();
  for (int number = 1; std::getline(file, line); ++number) {
    TagEntry tag;
    bool hasTag = false;
    std::string error;
    if (!ParseTagLine(line, &tag, &hasTag, &error)) {
      errors->push_back(path + ":" + std::to_string(number) + ": " + error);
    } else if (hasTag && firstLine.count(tag.address) != 0) {
      errors->push_back(path + ":" + std::to_string(number) + ": tag " + tag.address +
                        " is already listed on line " + std::to_string(firstLine[tag.address]));
    } else if (hasTag) {
      tag.line = number;
      firstLine[tag.address] = number;
      tags->push_back(tag);
    }
  }
  if (errors->size() == errorsBefore && tags->empty()) errors->push_back(path + ": lists no tag");
  return errors->size() == errorsBefore;
}

std::vector<TagEntry> DefaultTags(const std::vector<int> &stations, int channels) {
  std::vector<TagEntry> tags;
  for (int station : stations) {
    for (int channel = 0; channel < channels; ++channel) {
      tags.push_back({ChannelAddress(station, channel), kHevGateFloat, 0});
    }
    tags.push_back({AirFlowAddress(station), kHevGateUnsigned16, 0});
  }
  return tags;
}

const char *GateTypeName(int gateType) {
  switch (gateType) {
    case kHevGateFloat:
      return "float";
    case kHevGateSigned16:
      return "signed16";
    case kHevGateUnsigned16:
      return "unsigned16";
    default:
      return "?";
  }
}

std::string ChannelAddress(int station, int channel) {
  char text[32];
  std::snprintf(text, sizeof text, "%03dF%04d", station, channel);
  return text;
}

std::string AirFlowAddress(int station) {
  char text[32];
  std::snprintf(text, sizeof text, "%03dAIR_FLOW", station);
  return text;
}
