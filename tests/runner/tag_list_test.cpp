// The tag list of devado-host: what a line may hold, and how a file's errors are told.
#include "runner/tag_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "hevpro/hevpro_control.h"

namespace {

TEST(TagList, ReadsGoodLinesAndRefusesBadOnes) {
  const struct {
    std::string line;
    bool ok;
    bool hasTag;
    const char *address;
    int type;
    const char *error;  // a part of the message
  } cases[] = {
      {"001F0000 float", true, true, "001F0000", kHevGateFloat, ""},
      {"  002AIR_FLOW   unsigned16  # air flow", true, true, "002AIR_FLOW", kHevGateUnsigned16, ""},
      {"002AIR_FLOW uint16\r", true, true, "002AIR_FLOW", kHevGateUnsigned16, ""},
      {"003AIR_FLOW signed16", true, true, "003AIR_FLOW", kHevGateSigned16, ""},
      {"003AIR_FLOW int16", true, true, "003AIR_FLOW", kHevGateSigned16, ""},
      // The driver judges the address itself and says why it refuses one.
      {"1F0000 float", true, true, "1F0000", kHevGateFloat, ""},
      {"", true, false, "", 0, ""},
      {"   # only a remark", true, false, "", 0, ""},
      {"001F0000", false, false, "", 0, "has no type"},
      {"001F0000 double", false, false, "", 0, "unknown type 'double'"},
      {"001F0000 Float", false, false, "", 0, "unknown type 'Float'"},
      {"001F0000 float extra", false, false, "", 0, "unexpected 'extra'"},
      {std::string(156, '1') + " float", false, false, "", 0, "longer than 155"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    TagEntry tag;
    bool hasTag = true;
    std::string error;
    EXPECT_EQ(ParseTagLine(c.line, &tag, &hasTag, &error), c.ok);
    EXPECT_EQ(hasTag, c.hasTag);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (!c.hasTag) continue;
    EXPECT_EQ(tag.address, c.address);
    EXPECT_EQ(tag.gateType, c.type);
  }
}

TEST(TagList, TellsEachErrorWithFileAndLineAndRefusesTheList) {
  const struct {
    const char *content;
    std::vector<std::string> errors;
    std::size_t tags;
  } cases[] = {
      {"# stations 1 and 2\n001F0000 float\n\n002AIR_FLOW uint16\n", {}, 2},
      {"001F0000 float\n001F0001\n001F0002 real\n",
       {"tags.txt:2: tag 001F0001 has no type", "tags.txt:3: unknown type 'real'"},
       1},
      {"001F0000 float\n001F0000 float\n",
       {"tags.txt:2: tag 001F0000 is already listed on line 1"},
       1},
      {"# nothing\n\n", {"tags.txt: lists no tag"}, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.content);
    std::ofstream("tags.txt", std::ios::binary) << c.content;
    std::vector<TagEntry> tags;
    std::vector<std::string> errors;
    EXPECT_EQ(ReadTagList("tags.txt", &tags, &errors), c.errors.empty());
    ASSERT_EQ(errors.size(), c.errors.size());
    for (std::size_t i = 0; i < errors.size(); ++i)
      EXPECT_EQ(errors[i].rfind(c.errors[i], 0), 0u) << errors[i];
    EXPECT_EQ(tags.size(), c.tags);
  }
  std::remove("tags.txt");
  std::vector<TagEntry> tags;
  std::vector<std::string> errors;
  EXPECT_FALSE(ReadTagList("no-such-tags.txt", &tags, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "no-such-tags.txt: cannot open the tag list");
}

TEST(TagList, DefaultsToEveryChannelAndTheAirFlowOfEachStation) {
  std::vector<TagEntry> tags = DefaultTags({1, 12}, 2);
  std::vector<std::string> addresses;
  for (const TagEntry &tag : tags)
    addresses.push_back(tag.address + " " + GateTypeName(tag.gateType));
  EXPECT_EQ(addresses, (std::vector<std::string>{"001F0000 float", "001F0001 float",
                                                 "001AIR_FLOW unsigned16", "012F0000 float",
                                                 "012F0001 float", "012AIR_FLOW unsigned16"}));
}

}  // namespace
