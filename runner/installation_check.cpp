#include "runner/installation_check.h"

#include <cctype>
#include <map>
#include <set>

#include "tags/tag_rules.h"

namespace {

std::string Number3(unsigned number) {
  char text[16];
  std::snprintf(text, sizeof text, "%03u", number);
  return text;
}

std::string Where(const std::string &file, int line) {
  return line > 0 ? file + ":" + std::to_string(line) : file;
}

// A line that is no setting but reads like one was probably meant as one: the driver
// passes over it without a word.
bool LooksLikeASetting(const std::string &text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  if (std::isdigit(static_cast<unsigned char>(text[first]))) return true;
  std::string word;
  for (std::size_t i = first; i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]));
       ++i) {
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  }
  return word == "UPDATE" || text.find('=') != std::string::npos;
}

Finding JudgeLine(const InitFileView &init, const InitLine &line) {
  Finding f{Severity::kFine, Where(init.fileName, line.lineNumber), line.text, ""};
  switch (line.kind) {
    case InitLineKind::kUpdateRate:
      f.text = "update rate " + std::to_string(line.value) + " s";
      if (line.lineNumber != init.updateRateLine) {
        f.severity = Severity::kNote;
        f.text += ", replaced by line " + std::to_string(init.updateRateLine);
      }
      break;
    case InitLineKind::kBadUpdateRate:
      f = {Severity::kProblem, f.where, f.what,
           "rejected: invalid update rate (1 to 1000 seconds)"};
      break;
    case InitLineKind::kStation:
      f.text = "station " + Number3(line.value) + " at " + line.address;
      break;
    case InitLineKind::kBadStationNumber:
      f = {Severity::kProblem, f.where, f.what, "rejected: invalid station number (1 to 255)"};
      break;
    case InitLineKind::kBadAddress:
      f = {Severity::kProblem, f.where, f.what,
           "rejected: invalid IP address (four numbers 0 to 255 separated by dots)"};
      break;
    case InitLineKind::kNotASetting:
      if (line.text.find_first_not_of(" \t") == std::string::npos) return {};
      f.severity = LooksLikeASetting(line.text) ? Severity::kProblem : Severity::kNote;
      f.text = f.severity == Severity::kProblem
                   ? "passed over: not a setting, though it looks like one (NNN = A.B.C.D or "
                     "UPDATE RATE = N)"
                   : "passed over (not a setting)";
      break;
  }
  return f;
}

void CheckInitLines(const InitFileView &init, std::vector<Finding> *findings) {
  for (const InitLine &line : init.lines) {
    Finding f = JudgeLine(init, line);
    if (f.where.empty()) continue;
    if (line.kind == InitLineKind::kStation) {
      for (const ConfiguredStation &s : init.stations) {
        if (s.number == static_cast<int>(line.value) && s.lineNumber != line.lineNumber) {
          f.severity = Severity::kNote;
          f.text += ", replaced by line " + std::to_string(s.lineNumber);
        }
      }
    }
    findings->push_back(f);
  }
}

void CheckSummary(const InitFileView &init, std::vector<Finding> *findings) {
  findings->push_back(
      {Severity::kFine, init.fileName, "",
       "update rate in force: " + std::to_string(init.updateRate) + " s " +
           (init.updateRateLine > 0 ? "(line " + std::to_string(init.updateRateLine) + ")"
                                    : std::string("(the default: no valid UPDATE RATE line)"))});
  if (init.stations.empty()) {
    findings->push_back(
        {Severity::kProblem, init.fileName, "", "no station is configured: cold start will fail"});
  }
  std::map<std::string, std::vector<int>> byAddress;
  for (const ConfiguredStation &s : init.stations) byAddress[s.address].push_back(s.number);
  for (const auto &[address, numbers] : byAddress) {
    if (numbers.size() < 2) continue;
    std::string list;
    for (int n : numbers) list += (list.empty() ? "" : ", ") + Number3(n);
    findings->push_back({Severity::kProblem, init.fileName, "",
                         "stations " + list + " share the address " + address +
                             ": one station cannot serve both, their links will fail and be "
                             "restored again and again"});
  }
}

void CheckTags(const InitFileView &init, const std::vector<TagEntry> &tags,
               const std::string &tagSource, std::vector<Finding> *findings) {
  auto configured = [&init](int station) {
    for (const ConfiguredStation &s : init.stations) {
      if (s.number == station) return true;
    }
    return false;
  };
  int refused = 0;
  std::set<int> sampled;  // stations with an accepted channel tag
  for (const TagEntry &tag : tags) {
    TagJudgement judgement = JudgeTag(tag.address.c_str(), tag.gateType, configured);
    if (judgement.fault == TagFault::kNone) {
      if (!judgement.airFlow) sampled.insert(judgement.station);
      continue;
    }
    ++refused;
    findings->push_back({Severity::kProblem,
                         Where(tagSource.empty() ? "tags" : tagSource, tag.line),
                         tag.address + " " + GateTypeName(tag.gateType),
                         std::string("will be refused: ") + TagFaultText(judgement.fault)});
  }
  findings->push_back({Severity::kFine, tagSource.empty() ? "tags" : tagSource, "",
                       std::to_string(tags.size() - refused) + " of " +
                           std::to_string(tags.size()) + " tags will be accepted" +
                           (tagSource.empty() ? " (the default tags of every station)" : "")});
  // Sampling is configured per channel tag: a station without one sends nothing, and the
  // driver fails it after six update periods of silence, reconnects it, and so on.
  for (const ConfiguredStation &s : init.stations) {
    if (sampled.count(s.number) != 0) continue;
    findings->push_back({Severity::kProblem, tagSource.empty() ? "tags" : tagSource, "",
                         "station " + Number3(static_cast<unsigned>(s.number)) +
                             " has no channel tag: it is never asked to sample, so its link "
                             "will be failed for silence and reconnected again and again"});
  }
}

}  // namespace

std::vector<Finding> CheckInstallation(const InitFileView &init, const std::vector<TagEntry> &tags,
                                       const std::string &tagSource) {
  std::vector<Finding> findings;
  CheckInitLines(init, &findings);
  CheckSummary(init, &findings);
  CheckTags(init, tags, tagSource, &findings);
  return findings;
}

int ProblemCount(const std::vector<Finding> &findings) {
  int count = 0;
  for (const Finding &f : findings) count += f.severity == Severity::kProblem ? 1 : 0;
  return count;
}

const char *SeverityName(Severity severity) {
  switch (severity) {
    case Severity::kFine:
      return "ok";
    case Severity::kNote:
      return "note";
    case Severity::kProblem:
      return "problem";
  }
  return "";
}
