// The MQTT part of devado-host's command line: what it accepts, how it reads a broker's
// address, and the combinations it refuses before anything runs.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "runner/mqtt/plant_messages.h"
#include "runner/options.h"

namespace {

std::vector<std::string> Words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

struct SettingsCase {
  const char *line;
  const char *host;    // null: refused
  int port;            // the port in use
  const char *broker;  // as messages name it
};

const SettingsCase kCases[] = {
    {"--mqtt broker.plant", "broker.plant", 1883, "broker.plant:1883"},
    {"--mqtt 127.0.0.9:1884", "127.0.0.9", 1884, "127.0.0.9:1884"},
    {"--mqtt broker --mqtt-cafile ca.pem", "broker", 8883, "broker:8883"},
    {"--mqtt broker:1883 --mqtt-cafile ca.pem", "broker", 1883, "broker:1883"},
    {"--mqtt [::1]:1885", "::1", 1885, "[::1]:1885"},
    {"--mqtt [fd00::5]", "fd00::5", 1883, "[fd00::5]:1883"},
    {"--mqtt broker --mqtt-user gw --mqtt-password-file pw", "broker", 1883, "broker:1883"},
    {"--mqtt broker --mqtt-prefix plant/hall-2/ --mqtt-queue 5", "broker", 1883, "broker:1883"},
    {"--mqtt broker:0", nullptr, 0, nullptr},
    {"--mqtt broker:65536", nullptr, 0, nullptr},
    {"--mqtt broker:", nullptr, 0, nullptr},
    {"--mqtt :1883", nullptr, 0, nullptr},
    {"--mqtt [::1", nullptr, 0, nullptr},
    {"--mqtt [::1]x", nullptr, 0, nullptr},
    {"--mqtt ::1", "::1", 1883, "[::1]:1883"},  // brackets are needed only with a port
    {"--mqtt", nullptr, 0, nullptr},
    {"--mqtt-user gw --mqtt-password-file pw", nullptr, 0, nullptr},
    {"--mqtt-prefix plant", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-user gw", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-password-file pw", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-prefix plant/+/x", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-prefix plant/#", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-prefix /plant", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-prefix plant//x", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-queue 0", nullptr, 0, nullptr},
    {"--mqtt-queue 5", nullptr, 0, nullptr},
    // The queue is bounded by what a 32-bit process can hold (a few hundred bytes each).
    {"--mqtt broker --mqtt-queue 1000000", "broker", 1883, "broker:1883"},
    {"--mqtt broker --mqtt-queue 1000001", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-store s.db --mqtt-store-max 2G", "broker", 1883, "broker:1883"},
    {"--mqtt broker --mqtt-store s.db --mqtt-store-max 32K", "broker", 1883, "broker:1883"},
    {"--mqtt broker --mqtt-store s.db --mqtt-store-max 16K", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-store s.db --mqtt-store-max 4T", nullptr, 0, nullptr},
    {"--mqtt broker --mqtt-store s.db --mqtt-store-max 1.5G", nullptr, 0, nullptr},
    {"--mqtt-store s.db", nullptr, 0, nullptr},
};

class MqttSettingsLine : public testing::TestWithParam<SettingsCase> {};

TEST_P(MqttSettingsLine, IsReadOrRefused) {
  const SettingsCase &c = GetParam();
  Options options;
  std::string error;
  bool ok = ParseOptions(Words(c.line), &options, &error);
  ASSERT_EQ(ok, c.host != nullptr) << c.line << ": " << error;
  if (!ok) {
    EXPECT_FALSE(error.empty());
    return;
  }
  EXPECT_EQ(options.mqtt.host, c.host);
  EXPECT_EQ(options.mqtt.PortInUse(), c.port);
  EXPECT_EQ(options.mqtt.BrokerText(), c.broker);
}

INSTANTIATE_TEST_SUITE_P(, MqttSettingsLine, testing::ValuesIn(kCases));

TEST(MqttSettings, APrefixLosesItsTrailingSlashAndTheQueueItsDefault) {
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions(Words("--mqtt b --mqtt-prefix plant/hall-2/"), &options, &error));
  EXPECT_EQ(options.mqtt.prefix, "plant/hall-2");
  EXPECT_EQ(options.mqtt.queue, 10000);
  EXPECT_FALSE(Options().mqtt.Enabled());
}

TEST(PlantTopics, AreTheDocumentedTreeAndAHostNameCannotBreakIt) {
  PlantTopics topics("plant/hall-2", 3);
  EXPECT_EQ(topics.Sample(7), "plant/hall-2/3/station/007/sample");
  EXPECT_EQ(topics.Link(12), "plant/hall-2/3/station/012/link");
  EXPECT_EQ(topics.Status(), "plant/hall-2/3/status");
  EXPECT_EQ(DefaultPrefix("cleanroom-pc"), "devado/cleanroom-pc");
  EXPECT_EQ(DefaultPrefix("a+b#c/d"), "devado/a_b_c_d");
  EXPECT_EQ(DefaultPrefix(""), "devado/unknown-host");
}

}  // namespace
