#include <gtest/gtest.h>

#include "commands/Messages.h"
#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class NozzleStatesTest : public DriverFixture {
 protected:
  NozzleStatesTest() {
    S().priceDirty[1][1] = 0;
    S().priceDirty[2][5] = 0;
  }
  // One poll of channel 1, dispenser 1 with the given status byte.
  std::uint16_t Poll(std::uint8_t status) {
    port.ThenInfo(StatusInfo(status));
    return driver.PollStatus(1, 1);
  }
  std::size_t SecondAddressRequests(std::uint8_t command) const {
    std::size_t n = 0;
    for (const auto& e : port.exchanges)
      if (e.request[0] == 0xC0 && e.request[2] == command) ++n;
    return n;
  }
};

struct StateCase {
  std::uint8_t status;
  std::uint8_t codeWithoutSecondAddress;  // mode 0: sub-status taken as 1
};

class StatusBytes : public NozzleStatesTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(StatusBytes, MapToTheirStateCode) {
  S().nozzleState[1][1] = 0xC0;  // no release in the way
  EXPECT_EQ(Poll(GetParam().status), GetParam().codeWithoutSecondAddress);
  EXPECT_EQ(S().nozzleState[1][1], GetParam().codeWithoutSecondAddress);
  EXPECT_EQ(port.exchanges.size(), GetParam().status == 0x2F ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusBytes,
    ::testing::Values(StateCase{0x20, 0xC0}, StateCase{0x24, 0xC0}, StateCase{0x2F, 0xC0},
                      StateCase{0x90, 0xE9}, StateCase{0xA0, 0xE1}, StateCase{0x95, 0xD1},
                      StateCase{0x98, 0xD1}, StateCase{0x99, 0xD1}, StateCase{0x9D, 0xD1},
                      StateCase{0xDC, 0xD1}, StateCase{0xD0, 0xD9}, StateCase{0xD4, 0xD9},
                      StateCase{0xF0, 0xD9}, StateCase{0x00, 0x00}, StateCase{0x31, 0x31},
                      StateCase{0xFF, 0xFF}, StateCase{0xC0, 0xC0}));

TEST_F(NozzleStatesTest, SubStatusComesFromTheSecondAddressInModeTwo) {
  S().nozzleMode[1][1] = 2;
  port.ThenInfo(StatusInfo(0x90)).ThenInfo({0x0B});
  NozzleStatusRecord record;
  record.bytes.fill(0x77);
  S().nozzleMode[1][1] = 2;
  driver.GetNozzleStatus(1, 1, 2, record);
  EXPECT_EQ(record.bytes[0], 0xEB);
  EXPECT_EQ(record.bytes[1], 0);
  EXPECT_EQ(record.bytes[14], 3);
  EXPECT_EQ(record.bytes[15], 0);
  for (int i = 2; i <= 13; ++i) EXPECT_EQ(record.bytes[i], 0x77) << i;
  ASSERT_EQ(port.exchanges.size(), 2u);
  EXPECT_EQ(port.exchanges[1].request, (Bytes{0xC0, 0x3F, 0xA1, 0x5E}));
  EXPECT_EQ(port.exchanges[1].expected, 2);
}

TEST_F(NozzleStatesTest, ModeOneIsStoredAsTwoAndModeZeroStopsTheSecondAddress) {
  NozzleStatusRecord record;
  port.ThenInfo(StatusInfo(0x90)).ThenInfo({0x02});
  driver.GetNozzleStatus(1, 1, 1, record);
  EXPECT_EQ(S().nozzleMode[1][1], 2);
  EXPECT_EQ(record.bytes[0], 0xEA);
  port.ThenInfo(StatusInfo(0x90));
  driver.GetNozzleStatus(1, 1, 0, record);
  EXPECT_EQ(S().nozzleMode[1][1], 0);
  EXPECT_EQ(record.bytes[0], 0xE9);
  EXPECT_EQ(port.exchanges.size(), 3u);
}

TEST_F(NozzleStatesTest, ABadLinkOnTheSubStatusGivesSubStatusOne) {
  S().nozzleMode[1][1] = 2;
  port.ThenInfo(StatusInfo(0x99));
  port.Then({.reply = Pairs({0x05}), .callVerifier = false, .error = 0, .state = 3});
  EXPECT_EQ(driver.PollStatus(1, 1), 0xD1);
}

TEST_F(NozzleStatesTest, AFailedSubStatusRaisesAndChangesNothing) {
  S().nozzleMode[1][1] = 2;
  S().startGuard[1][1] = 5;
  port.ThenInfo(StatusInfo(0xA0, {0, 0, 0}, {0x25, 0x10, 0})).ThenFail(0x1F4);
  try {
    driver.PollStatus(1, 1);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_EQ(e.Message(), messages::kStatusRequest);
  }
  EXPECT_EQ(S().volume[1][1], 10.25);  // stored before the state mapping
  EXPECT_EQ(S().nozzleState[1][1], 0xE1);
  EXPECT_EQ(S().startGuard[1][1], 5);
}

TEST_F(NozzleStatesTest, StartGuardReportsElevenIdlePollsAsAuthorized) {
  S().startGuard[1][1] = kStartGuardPolls;
  std::vector<int> codes;
  for (int i = 0; i < 12; ++i) codes.push_back(Poll(0xA0));
  std::vector<int> expected(11, 0xE9);
  expected.push_back(0xE1);
  EXPECT_EQ(codes, expected);
  EXPECT_EQ(S().startGuard[1][1], 0);
}

TEST_F(NozzleStatesTest, FinishedStatusesClearTheGuard) {
  for (std::uint8_t status : {0x20, 0x24, 0x2F}) {
    S().startGuard[1][1] = 7;
    Poll(status);
    EXPECT_EQ(S().startGuard[1][1], 0) << int(status);
  }
}

TEST_F(NozzleStatesTest, ReleaseIsSentOnceOnEnteringFinished) {
  S().nozzleMode[1][1] = 2;
  EXPECT_EQ(Poll(0x20), 0xC0);  // from the initial 0xE1
  EXPECT_EQ(SecondAddressRequests(0xA2), 1u);
  EXPECT_EQ(port.exchanges.back().request, (Bytes{0xC0, 0x3F, 0xA2, 0x5D}));
  EXPECT_EQ(Poll(0x24), 0xC0);
  EXPECT_EQ(SecondAddressRequests(0xA2), 1u);
  EXPECT_EQ(Poll(0x31), 0x31);
  EXPECT_EQ(S().nozzleState[1][1], 0x31);
  EXPECT_EQ(Poll(0x20), 0xC0);
  EXPECT_EQ(SecondAddressRequests(0xA2), 2u);
}

TEST_F(NozzleStatesTest, NoReleaseWithoutTheSecondAddress) {
  EXPECT_EQ(Poll(0x20), 0xC0);
  EXPECT_EQ(port.exchanges.size(), 1u);
}

TEST_F(NozzleStatesTest, AFailedReleaseIsLoggedAndSwallowed) {
  S().nozzleMode[1][1] = 2;
  port.ThenInfo(StatusInfo(0x20)).ThenFail(0xF6);
  EXPECT_EQ(driver.PollStatus(1, 1), 0xC0);
  EXPECT_EQ(LogTexts().back(), " " + std::string(messages::kRelease));
  EXPECT_EQ(S().nozzleState[1][1], 0xC0);
  Poll(0x20);
  EXPECT_EQ(SecondAddressRequests(0xA2), 1u);
}

TEST_F(NozzleStatesTest, PowerUpStatusDownloadsPricesEvenWhenNoneArePending) {
  S().prices[1][1][1] = 4567;
  EXPECT_EQ(Poll(0x2F), 0xC0);
  EXPECT_EQ(port.exchanges[1].request[2], 0xA6);
}

TEST_F(NozzleStatesTest, AFailedPowerUpDownloadLeavesGuardAndStateAlone) {
  S().startGuard[1][1] = 4;
  port.ThenInfo(StatusInfo(0x2F)).ThenFail(0x1F4);
  EXPECT_THROW(driver.PollStatus(1, 1), ESerialIO);
  EXPECT_EQ(S().startGuard[1][1], 4);
  EXPECT_EQ(S().nozzleState[1][1], 0xE1);
}

TEST_F(NozzleStatesTest, PendingPricesGoOutBeforeThePoll) {
  S().priceDirty[2][5] = 1;
  NozzleStatusRecord record;
  driver.GetNozzleStatus(2, 5, 0, record);
  ASSERT_EQ(port.exchanges.size(), 2u);
  EXPECT_EQ(port.exchanges[0].request[2], 0xA6);
  EXPECT_EQ(port.exchanges[1].request[2], 0xA1);
  EXPECT_EQ(S().priceDirty[2][5], 0);
}

TEST_F(NozzleStatesTest, ABadLinkPollGivesAZeroRecordAndKeepsTheState) {
  port.Then({.reply = Pairs(StatusInfo(0x20)), .callVerifier = false, .error = 0, .state = 3});
  NozzleStatusRecord record;
  record.bytes.fill(0x77);
  driver.GetNozzleStatus(1, 1, 0, record);
  EXPECT_EQ(record.bytes[0], 0);
  EXPECT_EQ(record.bytes[14], 0);
  EXPECT_EQ(S().nozzleState[1][1], 0xE1);
}

TEST_F(NozzleStatesTest, NozzleStatusRangeChecksComeBeforeAnything) {
  NozzleStatusRecord record;
  record.bytes.fill(0x77);
  for (auto [c, d] : {std::pair{33, 1}, {1, 0}, {1, 33}, {255, 255}}) {
    EXPECT_THROW(driver.GetNozzleStatus(c, d, 2, record), ERangeError);
  }
  EXPECT_TRUE(port.exchanges.empty());
  EXPECT_EQ(record.bytes[0], 0x77);

  // Channel 0 goes on: the mode is stored, then the poll fails.
  EXPECT_THROW(driver.GetNozzleStatus(0, 3, 2, record), ERangeError);
  EXPECT_EQ(S().nozzleMode[0][3], 2);
  EXPECT_EQ(record.bytes[0], 0x77);
}

}  // namespace
}  // namespace quorlan::testing
