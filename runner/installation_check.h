// What the driver will make of an installation, found offline with the driver's own rules:
// each line of the init file (accepted, rejected and why, passed over), the update rate in
// force and why, stations that share an address, and the tags it will refuse and why.
#pragma once

#include <string>
#include <vector>

#include "runner/init_file_view.h"
#include "runner/tag_list.h"

enum class Severity {
  kFine,     // what the driver will do, as intended
  kNote,     // worth knowing: a line passed over, a setting that a later line replaces
  kProblem,  // the installation will not work as written
};

struct Finding {
  Severity severity = Severity::kFine;
  std::string where;  // "DEVADO01.int:3", "tags.txt:4", or empty for the whole
  std::string what;   // the line or tag it is about, as written
  std::string text;
};

// `tagSource` names where the tags come from: a tag list file, or empty for the default
// tags of every configured station.
std::vector<Finding> CheckInstallation(const InitFileView &init, const std::vector<TagEntry> &tags,
                                       const std::string &tagSource);

int ProblemCount(const std::vector<Finding> &findings);

// "problem", "note" or "ok".
const char *SeverityName(Severity severity);
