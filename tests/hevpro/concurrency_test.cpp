// The host calls from several threads at once, as the driver's threads make them.
#include <atomic>
#include <string>
#include <thread>

#include "tests/hevpro/hevpro_fixture.h"

namespace {

class HevConcurrency : public HevFixture {};

constexpr int kGates = 16;
constexpr int kIterations = 4000;  // a multiple of kGates

std::string GateAddress(int gate) {
  return "G" + std::to_string(gate);
}

TEST_F(HevConcurrency, ThreeThreadsKeepExactTotals) {
  uint8_t writer = MakeClient("writer");
  uint8_t reader = MakeClient("reader");
  for (int gate = 0; gate < kGates; ++gate) {
    ASSERT_EQ(HevCtlDefineGate(1000 + gate, GateAddress(gate).c_str(), kHevGateFloat, 0), 0);
  }
  HevCtlCaptureStart();

  std::atomic<bool> go{false};
  std::atomic<int> failures{0};
  auto awaitStart = [&] {
    while (!go.load()) std::this_thread::yield();
  };
  std::thread writing([&] {
    awaitStart();
    for (int i = 0; i < kIterations; ++i) {
      if (HevPutGateVal(writer, 1000 + i % kGates, 0, i, 0, 0) != kHevOk) ++failures;
      if (HevSetPlcCommStatus(writer, 1, i % 256, 0, i) != kHevOk) ++failures;
    }
  });
  std::thread reading([&] {
    awaitStart();
    for (int i = 0; i < kIterations; ++i) {
      int gate = i % kGates;
      int gateId = -1;
      double value = -1;
      uint32_t writes = 0;
      if (HevGetGateIdByAddressStr(reader, 1, GateAddress(gate).c_str(), &gateId) != kHevOk ||
          gateId != 1000 + gate ||
          HevGetGateVal(reader, 0, gateId, &value, &writes, nullptr) != kHevOk) {
        ++failures;
        continue;
      }
      // A gate only ever holds 0 or an iteration number of its own.
      if (value != 0.0 && static_cast<int>(value) % kGates != gate) ++failures;
    }
  });
  std::thread logging([&] {
    awaitStart();
    for (int i = 0; i < kIterations; ++i) err(kLogDetail, "line %d", i);
  });
  go = true;
  writing.join();
  reading.join();
  logging.join();

  EXPECT_EQ(failures.load(), 0);
  for (int gate = 0; gate < kGates; ++gate) {
    double value = 0;
    uint32_t writes = 0;
    ASSERT_EQ(HevCtlGateValue(1000 + gate, &value, &writes), 0);
    EXPECT_EQ(writes, static_cast<uint32_t>(kIterations / kGates)) << "gate " << gate;
    EXPECT_EQ(value, kIterations - kGates + gate) << "gate " << gate;
  }
  ASSERT_EQ(HevCtlCommStatusCount(), kIterations);
  ASSERT_EQ(HevCtlCapturedCount(), kIterations);
  for (int i = 0; i < kIterations; ++i) {
    HevCommStatusEvent event{};
    ASSERT_EQ(HevCtlCommStatusAt(i, &event), 0);
    ASSERT_EQ(event.status, i);
    int level = -1;
    char text[32];
    ASSERT_EQ(HevCtlCapturedLine(i, &level, text, sizeof text), 0);
    ASSERT_EQ(std::string(text), "line " + std::to_string(i));
    ASSERT_EQ(level, kLogDetail);
  }
}

}  // namespace
