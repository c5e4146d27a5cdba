#include <gtest/gtest.h>

#include "commands/Messages.h"
#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class TotalsTest : public DriverFixture {
 protected:
  std::pair<double, double> Read(std::uint32_t d = 1, std::int32_t nozzle = 1) {
    double volume = -1, amount = -1;
    driver.ReadTotals(1, d, nozzle, volume, amount, 0, 0);
    return {volume, amount};
  }
};

TEST_F(TotalsTest, SelectsTheNozzleAndDecodesBothCounters) {
  port.ThenInfo({0x89, 0x67, 0x45, 0x23, 0x01, 0x21, 0x43, 0x65, 0x87, 0x09, 0x00});
  const auto [volume, amount] = Read();
  EXPECT_DOUBLE_EQ(volume, 1234567.89);
  EXPECT_DOUBLE_EQ(amount, 9876543.21);
  EXPECT_EQ(LastRequest(), (Bytes{0xF0, 0x0F, 0xA9, 0x56, 0x40, 0xBF}));
  EXPECT_EQ(port.exchanges[0].expected, 22);
}

TEST_F(TotalsTest, TheAmountCounterUsesAllSixBytes) {
  port.ThenInfo({0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0x99});
  EXPECT_DOUBLE_EQ(Read().second, 9900000000.01);
}

TEST_F(TotalsTest, NozzleSelectorIsComputedAndRangeChecked) {
  const std::pair<std::int32_t, std::uint8_t> selectors[] = {{1, 0x40},  {3, 0x44}, {8, 0x4E},
                                                             {96, 0xFE}, {0, 0x3E}, {-31, 0x00}};
  for (auto [nozzle, selector] : selectors) {
    Read(2, nozzle);
    EXPECT_EQ(LastRequest()[4], selector) << nozzle;
    EXPECT_EQ(LastRequest()[0], 0xF1);
  }
  const auto sent = port.exchanges.size();
  for (std::int32_t nozzle : {97, -32, INT32_MAX, INT32_MIN}) {
    double volume = -1, amount = -1;
    EXPECT_THROW(driver.ReadTotals(1, 1, nozzle, volume, amount, 0, 0), ERangeError);
    EXPECT_EQ(volume, 0.0);
    EXPECT_EQ(amount, 0.0);
  }
  EXPECT_EQ(port.exchanges.size(), sent);
}

TEST_F(TotalsTest, ABadDigitMarksTheLinkBadWithoutAnError) {
  for (std::size_t bad : {3u, 10u}) {
    Bytes info(11, 0x11);
    info[bad] = bad == 3 ? 0xA0 : 0x1A;
    port.ThenInfo(info);
    EXPECT_EQ(Read(), (std::pair{0.0, 0.0}));
    EXPECT_EQ(driver.GetLinkState(1), kLinkBad);
  }
}

TEST_F(TotalsTest, ZeroCountersLeaveTheLinkGood) {
  port.ThenInfo(Bytes(11, 0));
  EXPECT_EQ(Read(), (std::pair{0.0, 0.0}));
  EXPECT_EQ(driver.GetLinkState(1), kLinkGood);
}

TEST_F(TotalsTest, AShortReplyLeavesBothTotalsAtZero) {
  for (int pairs : {1, 10}) {
    port.ThenInfo(Bytes(pairs, 0x55));
    EXPECT_EQ(Read(), (std::pair{0.0, 0.0}));
    EXPECT_EQ(driver.GetLinkState(1), kLinkGood);
  }
}

TEST_F(TotalsTest, FailuresAndRanges) {
  port.ThenFail(0x1F4);
  double volume = -1, amount = -1;
  try {
    driver.ReadTotals(1, 1, 1, volume, amount, 0, 0);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_EQ(e.Message(), messages::kTotalsRequest);
  }
  EXPECT_EQ(volume, 0.0);
  EXPECT_EQ(amount, 0.0);
  EXPECT_THROW(driver.ReadTotals(33, 1, 1, volume, amount, 0, 0), ERangeError);
  EXPECT_THROW(driver.ReadTotals(1, 0, 1, volume, amount, 0, 0), ERangeError);
  EXPECT_EQ(port.exchanges.size(), 1u);
  // Channel 0 is sent, then fails the second check.
  EXPECT_THROW(driver.ReadTotals(0, 1, 1, volume, amount, 0, 0), ERangeError);
  EXPECT_EQ(port.exchanges.size(), 2u);
}

}  // namespace
}  // namespace quorlan::testing
