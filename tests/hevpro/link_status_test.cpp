// The link status history.
#include "tests/hevpro/hevpro_fixture.h"

namespace {

class HevLinkStatus : public HevFixture {};

TEST_F(HevLinkStatus, HistoryKeepsEveryReportInCallOrder) {
  uint8_t first = MakeClient("first");
  uint8_t second = MakeClient("second");
  struct Case {
    HevCommStatusEvent event;
    uint16_t expected;
  } cases[] = {
      {{first, 1, 0, 0, 1}, kHevOk},         {{first, 1, 0, 0, 1}, kHevOk},
      {{second, 2, 255, -4, 0}, kHevOk},     {{first, 1, 17, 9, 0}, kHevOk},
      {{200, 3, 1, 2, 3}, kHevNoSuchClient},
  };
  for (const Case &c : cases) {
    const HevCommStatusEvent &e = c.event;
    EXPECT_EQ(HevSetPlcCommStatus(e.clientId, e.driver, e.station, e.a, e.status), c.expected);
  }
  ASSERT_EQ(HevCtlCommStatusCount(), 5);
  for (int i = 0; i < 5; ++i) {
    HevCommStatusEvent event{};
    ASSERT_EQ(HevCtlCommStatusAt(i, &event), 0);
    const HevCommStatusEvent &want = cases[i].event;
    EXPECT_EQ(event.clientId, want.clientId) << "event " << i;
    EXPECT_EQ(event.driver, want.driver) << "event " << i;
    EXPECT_EQ(event.station, want.station) << "event " << i;
    EXPECT_EQ(event.a, want.a) << "event " << i;
    EXPECT_EQ(event.status, want.status) << "event " << i;
  }
  HevCommStatusEvent event{};
  EXPECT_NE(HevCtlCommStatusAt(5, &event), 0);
  EXPECT_NE(HevCtlCommStatusAt(-1, &event), 0);
  EXPECT_NE(HevCtlCommStatusAt(0, nullptr), 0);

  HevCtlReset();
  EXPECT_EQ(HevCtlCommStatusCount(), 0);
}

}  // namespace
