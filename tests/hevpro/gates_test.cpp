// The tag database through the host calls: look-up, values, write counts, definitions.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "tests/hevpro/hevpro_fixture.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

class HevGates : public HevFixture {
 protected:
  void SetUp() override {
    HevFixture::SetUp();
    client = MakeClient("driver");
  }
  uint8_t client = 0;
};

int32_t Int32At(const unsigned char *record, int offset) {
  int32_t value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

TEST_F(HevGates, LookupMatchesTheExactAddressOfTheDriversGates) {
  ASSERT_EQ(HevCtlDefineGate(10, "CH1.COUNT", kHevGateFloat, 0), 0);
  ASSERT_EQ(HevCtlDefineGate(11, "ch1.count", kHevGateFloat, 0), 0);
  ASSERT_EQ(HevCtlDefineGate(12, "CH1.COUNT", kHevGateFloat, 1), 0);
  ASSERT_EQ(HevCtlDefineGate(13, "CH2", kHevGateSigned16, 0), 0);
  struct Case {
    uint8_t driver;
    const char *address;
    uint16_t expected;
    int gateId;
  } cases[] = {
      {1, "CH1.COUNT", kHevOk, 10},         {1, "ch1.count", kHevOk, 11},
      {2, "CH1.COUNT", kHevOk, 12},         {1, "CH2", kHevOk, 13},
      {1, "Ch1.Count", kHevNoSuchGate, -1}, {1, "CH1.COUNT ", kHevNoSuchGate, -1},
      {1, "CH1", kHevNoSuchGate, -1},       {1, "", kHevNoSuchGate, -1},
      {2, "CH2", kHevNoSuchGate, -1},       {3, "CH1.COUNT", kHevNoSuchGate, -1},
      {0, "CH1.COUNT", kHevNoSuchGate, -1},
  };
  for (const Case &c : cases) {
    int gateId = -1;
    EXPECT_EQ(HevGetGateIdByAddressStr(client, c.driver, c.address, &gateId), c.expected)
        << "driver " << int{c.driver} << " '" << c.address << "'";
    EXPECT_EQ(gateId, c.gateId) << "driver " << int{c.driver} << " '" << c.address << "'";
  }
}

TEST_F(HevGates, SharedAddressIsAnsweredByTheLowestId) {
  ASSERT_EQ(HevCtlDefineGate(300, "SAME", kHevGateFloat, 0), 0);
  ASSERT_EQ(HevCtlDefineGate(200, "SAME", kHevGateFloat, 0), 0);
  ASSERT_EQ(HevCtlDefineGate(400, "SAME", kHevGateFloat, 0), 0);
  int gateId = -1;
  EXPECT_EQ(HevGetGateIdByAddressStr(client, 1, "SAME", &gateId), kHevOk);
  EXPECT_EQ(gateId, 200);
  ASSERT_EQ(HevCtlRemoveGate(200), 0);
  EXPECT_EQ(HevGetGateIdByAddressStr(client, 1, "SAME", &gateId), kHevOk);
  EXPECT_EQ(gateId, 300);
}

TEST_F(HevGates, RedefinitionReplacesTheGateAndRemovalForgetsIt) {
  ASSERT_EQ(HevCtlDefineGate(5, "OLD", kHevGateFloat, 0), 0);
  ASSERT_EQ(HevPutGateVal(client, 5, 0, 2.5, 0, 0), kHevOk);
  ASSERT_EQ(HevCtlDefineGate(5, "NEW", kHevGateSigned16, 0), 0);
  int gateId = -1;
  EXPECT_EQ(HevGetGateIdByAddressStr(client, 1, "OLD", &gateId), kHevNoSuchGate);
  EXPECT_EQ(HevGetGateIdByAddressStr(client, 1, "NEW", &gateId), kHevOk);
  EXPECT_EQ(gateId, 5);
  double value = -1;
  uint32_t writes = 99;
  EXPECT_EQ(HevCtlGateValue(5, &value, &writes), 0);
  EXPECT_EQ(value, 0.0);
  EXPECT_EQ(writes, 0u);

  EXPECT_EQ(HevCtlRemoveGate(5), 0);
  EXPECT_EQ(HevCtlRemoveGate(5), kHevNoSuchGate);
  EXPECT_EQ(HevGetGateIdByAddressStr(client, 1, "NEW", &gateId), kHevNoSuchGate);
  EXPECT_EQ(HevCtlGateValue(5, &value, &writes), kHevNoSuchGate);
}

TEST_F(HevGates, DefinitionChecksItsArguments) {
  const std::string longest(155, 'a');
  const std::string tooLong(156, 'a');
  struct Case {
    const char *what;
    int gateId;
    const char *address;
    int typeCode;
    int driverIndex;
    int expected;
  } cases[] = {
      {"id -1", -1, "A", kHevGateFloat, 0, kHevBadArgument},
      {"id 65535", 65535, "A", kHevGateFloat, 0, kHevBadArgument},
      {"null address", 1, nullptr, kHevGateFloat, 0, kHevBadArgument},
      {"empty address", 1, "", kHevGateFloat, 0, kHevBadArgument},
      {"address of 156", 1, tooLong.c_str(), kHevGateFloat, 0, kHevBadArgument},
      {"type 2", 1, "A", 2, 0, kHevBadArgument},
      {"type 4", 1, "A", 4, 0, kHevBadArgument},
      {"driver index -1", 1, "A", kHevGateFloat, -1, kHevBadArgument},
      {"driver index 255", 1, "A", kHevGateFloat, 255, kHevBadArgument},
      {"id 0", 0, "A", kHevGateSigned16, 0, 0},
      {"id 65534", 65534, "B", kHevGateUnsigned16, 254, 0},
      {"address of 155", 7, longest.c_str(), kHevGateFloat, 3, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(HevCtlDefineGate(c.gateId, c.address, c.typeCode, c.driverIndex), c.expected)
        << c.what;
    EXPECT_EQ(HevCtlGateValue(c.gateId, nullptr, nullptr) == 0, c.expected == 0) << c.what;
  }
}

TEST_F(HevGates, CallsRefuseUnknownClientsGatesAndNullPointers) {
  ASSERT_EQ(HevCtlDefineGate(1, "G", kHevGateFloat, 0), 0);
  const uint8_t stranger = 77;
  int gateId = 0;
  double value = 0;
  unsigned char record[kGateDefinitionSize];
  struct Case {
    const char *what;
    std::function<uint16_t()> call;
    uint16_t expected;
  } cases[] = {
      {"look-up, unknown client",
       [&] { return HevGetGateIdByAddressStr(stranger, 1, "G", &gateId); }, kHevNoSuchClient},
      {"look-up, null address",
       [&] { return HevGetGateIdByAddressStr(client, 1, nullptr, &gateId); }, kHevBadArgument},
      {"look-up, null id", [&] { return HevGetGateIdByAddressStr(client, 1, "G", nullptr); },
       kHevBadArgument},
      {"read, unknown client",
       [&] { return HevGetGateVal(stranger, 0, 1, &value, nullptr, nullptr); }, kHevNoSuchClient},
      {"read, unknown gate", [&] { return HevGetGateVal(client, 0, 2, &value, nullptr, nullptr); },
       kHevNoSuchGate},
      {"read, null value", [&] { return HevGetGateVal(client, 0, 1, nullptr, nullptr, nullptr); },
       kHevBadArgument},
      {"write, unknown client", [&] { return HevPutGateVal(stranger, 1, 0, 1.0, 0, 0); },
       kHevNoSuchClient},
      {"write, unknown gate", [&] { return HevPutGateVal(client, 2, 0, 1.0, 0, 0); },
       kHevNoSuchGate},
      {"definition, unknown gate", [&] { return HevGetGateDef(client, 2, record); },
       kHevNoGateDefinition},
      {"definition, null record", [&] { return HevGetGateDef(client, 1, nullptr); },
       kHevBadArgument},
  };
  for (const Case &c : cases) EXPECT_EQ(c.call(), c.expected) << c.what;
  uint32_t writes = 99;
  EXPECT_EQ(HevCtlGateValue(1, nullptr, &writes), 0);
  EXPECT_EQ(writes, 0u) << "a refused write was counted";
  EXPECT_EQ(HevCtlSetGateValue(2, 1.0), kHevNoSuchGate);
}

struct ValueCase {
  const char *what;
  int typeCode;
  double written;
  double stored;
};

const ValueCase kValueCases[] = {
    {"float keeps single precision", kHevGateFloat, 0.1, 0.100000001490116119384765625},
    {"float rounds to even", kHevGateFloat, 16777217.0, 16777216.0},
    {"float exact", kHevGateFloat, -1234.5, -1234.5},
    {"float overflow", kHevGateFloat, 1e40, kInfinity},
    {"float NaN", kHevGateFloat, kNaN, kNaN},
    {"s16 rounds half up", kHevGateSigned16, 1.5, 2.0},
    {"s16 rounds half away from zero", kHevGateSigned16, -1.5, -2.0},
    {"s16 rounds down", kHevGateSigned16, 2.4, 2.0},
    {"s16 keeps its maximum", kHevGateSigned16, 32767.0, 32767.0},
    {"s16 clamps high", kHevGateSigned16, 40000.0, 32767.0},
    {"s16 clamps low", kHevGateSigned16, -40000.0, -32768.0},
    {"s16 clamps just above", kHevGateSigned16, 32767.6, 32767.0},
    {"s16 infinity", kHevGateSigned16, kInfinity, 32767.0},
    {"s16 minus infinity", kHevGateSigned16, -kInfinity, -32768.0},
    {"s16 NaN", kHevGateSigned16, kNaN, 0.0},
    {"u16 clamps negative", kHevGateUnsigned16, -1.0, 0.0},
    {"u16 small negative", kHevGateUnsigned16, -0.4, 0.0},
    {"u16 rounds half up", kHevGateUnsigned16, 0.5, 1.0},
    {"u16 keeps 40000", kHevGateUnsigned16, 40000.0, 40000.0},
    {"u16 rounds to maximum", kHevGateUnsigned16, 65534.5, 65535.0},
    {"u16 clamps high", kHevGateUnsigned16, 70000.0, 65535.0},
    {"u16 NaN", kHevGateUnsigned16, kNaN, 0.0},
};

void ExpectStored(double actual, const ValueCase &c, const char *path) {
  if (std::isnan(c.stored)) {
    EXPECT_TRUE(std::isnan(actual)) << c.what << " via " << path << ": " << actual;
  } else {
    EXPECT_EQ(actual, c.stored) << c.what << " via " << path;
  }
}

TEST_F(HevGates, StoredValueFollowsTheGateType) {
  int gateId = 0;
  for (const ValueCase &c : kValueCases) {
    ASSERT_EQ(HevCtlDefineGate(gateId, "V", c.typeCode, 0), 0);
    ASSERT_EQ(HevPutGateVal(client, gateId, 0, c.written, 0, 0), kHevOk) << c.what;
    double value = -7;
    ASSERT_EQ(HevGetGateVal(client, 0, gateId, &value, nullptr, nullptr), kHevOk);
    ExpectStored(value, c, "HevPutGateVal");

    ASSERT_EQ(HevCtlDefineGate(gateId, "V", c.typeCode, 0), 0);
    ASSERT_EQ(HevCtlSetGateValue(gateId, c.written), 0) << c.what;
    ASSERT_EQ(HevCtlGateValue(gateId, &value, nullptr), 0);
    ExpectStored(value, c, "HevCtlSetGateValue");
    ++gateId;
  }
}

TEST_F(HevGates, WriteCountsReachTheReaderAsFourByteValues) {
  ASSERT_EQ(HevCtlDefineGate(3, "W", kHevGateFloat, 0), 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(HevPutGateVal(client, 3, 0, i, 0, 0), kHevOk);
  ASSERT_EQ(HevCtlSetGateValue(3, 42.0), 0);

  unsigned char out1[8], out2[8];
  std::memset(out1, 0xEE, sizeof out1);
  std::memset(out2, 0xEE, sizeof out2);
  double value = 0;
  ASSERT_EQ(HevGetGateVal(client, 0, 3, &value, out1, out2), kHevOk);
  EXPECT_EQ(value, 42.0);
  EXPECT_EQ(Int32At(out1, 0), 3) << "HevCtlSetGateValue must not count as a write";
  EXPECT_EQ(Int32At(out2, 0), 0);
  for (int i = 4; i < 8; ++i) {
    EXPECT_EQ(out1[i], 0xEE) << "byte " << i;
    EXPECT_EQ(out2[i], 0xEE) << "byte " << i;
  }
  uint32_t writes = 0;
  ASSERT_EQ(HevCtlGateValue(3, nullptr, &writes), 0);
  EXPECT_EQ(writes, 3u);
  EXPECT_EQ(HevGetGateVal(client, 0, 3, &value, nullptr, nullptr), kHevOk);
}

TEST_F(HevGates, DefinitionRecordHoldsIdTypeDriverIndexAndAddress) {
  const std::string longest(155, 'Z');
  struct Case {
    int gateId;
    const char *address;
    int typeCode;
    int driverIndex;
  } cases[] = {
      {65534, "STATION7.CH3", kHevGateUnsigned16, 6},
      {0, longest.c_str(), kHevGateFloat, 254},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(HevCtlDefineGate(c.gateId, c.address, c.typeCode, c.driverIndex), 0);
    unsigned char record[kGateDefinitionSize];
    std::memset(record, 0xCC, sizeof record);
    ASSERT_EQ(HevGetGateDef(client, c.gateId, record), kHevOk) << c.address;
    EXPECT_EQ(Int32At(record, 0), c.gateId);
    EXPECT_EQ(Int32At(record, 4), c.typeCode);
    EXPECT_EQ(Int32At(record, kGateDefinitionDriverIndexOffset), c.driverIndex);
    const char *address = reinterpret_cast<const char *>(record + kGateDefinitionAddressOffset);
    size_t length = std::strlen(c.address);
    EXPECT_EQ(std::string(address, length), c.address);
    for (int i = 8; i < kGateDefinitionSize; ++i) {
      bool isField = i >= kGateDefinitionDriverIndexOffset &&
                     i < kGateDefinitionAddressOffset + static_cast<int>(length);
      if (!isField) {
        EXPECT_EQ(record[i], 0) << c.address << ", byte " << i;
      }
    }
  }

  unsigned char record[kGateDefinitionSize];
  std::memset(record, 0xCC, sizeof record);
  EXPECT_EQ(HevGetGateDef(client, 1, record), kHevNoGateDefinition);
  for (int i = 0; i < kGateDefinitionSize; ++i) EXPECT_EQ(record[i], 0) << "byte " << i;
}

}  // namespace
