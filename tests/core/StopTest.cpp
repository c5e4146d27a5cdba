#include <gtest/gtest.h>

#include "commands/Messages.h"
#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class StopTest : public DriverFixture {};

TEST_F(StopTest, SendsTheStopRequestToTheDispensersOwnAddress) {
  const std::pair<std::uint32_t, Bytes> cases[] = {{3, {0xF2, 0x0D, 0xA3, 0x5C}},
                                                   {17, {0x00, 0xFF, 0xA3, 0x5C}},
                                                   {32, {0x0F, 0xF0, 0xA3, 0x5C}},
                                                   {0, {0xEF, 0x10, 0xA3, 0x5C}}};
  for (const auto& [d, line] : cases) {
    EXPECT_EQ(driver.Stop(1, d, 99), 0);
    EXPECT_EQ(LastRequest(), line);
    EXPECT_EQ(port.exchanges.back().expected, 2);
  }
}

TEST_F(StopTest, StopNozzleSendsTheSameRequestWhateverItsExtraArguments) {
  driver.Stop(2, 5, 0);
  driver.StopNozzle(2, 5, 0xDEADBEEF, 0xFFFFFFFF);
  EXPECT_EQ(port.exchanges[0].request, port.exchanges[1].request);
}

TEST_F(StopTest, LogsEveryCallAndRaisesOnFailure) {
  port.ThenFail(0xF6);
  try {
    driver.Stop(1, 1, 0);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_EQ(Win1251ToUtf8(e.Message()), "Невозможно остановить ТРК");
  }
  EXPECT_THROW(driver.Stop(256, 1, 0), ERangeError);
  EXPECT_THROW(driver.Stop(1, 256, 0), ERangeError);
  EXPECT_EQ(port.exchanges.size(), 1u);
  int stops = 0;
  for (const auto& t : LogTexts()) stops += t == "COMMAND STOP";
  EXPECT_EQ(stops, 3);
}

}  // namespace
}  // namespace quorlan::testing
