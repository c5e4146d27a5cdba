#include <gtest/gtest.h>

#include "commands/Messages.h"
#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class StatusPollTest : public DriverFixture {};

TEST_F(StatusPollTest, DecodesAmountVolumeAndStatus) {
  port.ThenInfo(StatusInfo(0x20, {0x50, 0x34, 0x12}, {0x25, 0x10, 0x00}));
  EXPECT_EQ(driver.PollStatus(1, 1), 0xC0);
  EXPECT_EQ(S().amount[1][1], 1234.50);
  EXPECT_EQ(S().volume[1][1], 10.25);
  EXPECT_EQ(port.exchanges[0].request, (Bytes{0xF0, 0x0F, 0xA1, 0x5E}));
  EXPECT_EQ(port.exchanges[0].expected, 18);
  const auto texts = LogTexts();
  EXPECT_EQ(texts[1], "\xC7\xC0\xCF\xD0\xCE\xD1 \xD1\xCE\xD1\xD2\xCE\xDF\xCD\xC8\xDF(1)");
  EXPECT_EQ(texts.back(), "\xC7\xC0\xCF\xD0\xCE\xD1 \xD1\xCE\xD1\xD2\xCE\xDF\xCD\xC8\xDF(1): 20");
}

TEST_F(StatusPollTest, TheStatusByteIsLoggedWithTwoHexDigits) {
  S().nozzleState[3][2] = 0x05;
  port.ThenInfo(StatusInfo(0x05));
  EXPECT_EQ(driver.PollStatus(3, 2), 0x05);
  EXPECT_EQ(Win1251ToUtf8(LogTexts().back()), "ЗАПРОС СОСТОЯНИЯ(3): 05");
}

TEST_F(StatusPollTest, DigitsAboveNineAreTakenAtFaceValue) {
  port.ThenInfo(StatusInfo(0x31, {0, 0, 0}, {0x00, 0x00, 0xA0}));
  driver.PollStatus(1, 1);
  EXPECT_EQ(S().volume[1][1], 10000.00);
}

TEST_F(StatusPollTest, ABadLinkStateReturnsZeroAndStoresNothing) {
  S().volume[1][1] = 1.5;
  port.Then({.reply = Pairs(StatusInfo(0x20, {1, 1, 1}, {1, 1, 1})),
             .callVerifier = false,
             .error = 0,
             .state = 3});
  EXPECT_EQ(driver.PollStatus(1, 1), 0);
  EXPECT_EQ(S().volume[1][1], 1.5);
  EXPECT_EQ(S().nozzleState[1][1], 0xE1);
  EXPECT_EQ(Win1251ToUtf8(LogTexts().back()), "ЗАПРОС СОСТОЯНИЯ(1)");
}

// A reply one pair short passes the reply check but lacks the status byte.
TEST_F(StatusPollTest, AShortReplyIsTreatedLikeABadLink) {
  for (int pairs : {1, 8}) {
    Bytes info = StatusInfo(0x20, {0x11, 0x11, 0x11}, {0x11, 0x11, 0x11});
    info.resize(pairs);
    port.ThenInfo(info);
    EXPECT_EQ(driver.PollStatus(1, 1), 0);
    EXPECT_EQ(driver.GetLinkState(1), 1);
    EXPECT_EQ(S().volume[1][1], 0.0);
    EXPECT_EQ(S().nozzleState[1][1], 0xE1);
  }
}

TEST_F(StatusPollTest, AFailedExchangeRaisesBeforeStoringAnything) {
  port.ThenFail(0x1F4);
  try {
    driver.PollStatus(1, 1);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_EQ(e.Message(), messages::kStatusRequest);
  }
  EXPECT_EQ(driver.GetLinkState(1), 3);
  EXPECT_TRUE(Logged("Error connect BS: 1F4"));
}

TEST_F(StatusPollTest, NumbersOutsideTheTablesEndInTheRangeError) {
  // Above a byte: nothing is sent.
  EXPECT_THROW(driver.PollStatus(256, 1), ERangeError);
  EXPECT_THROW(driver.PollStatus(1, 256), ERangeError);
  EXPECT_TRUE(port.exchanges.empty());
  EXPECT_EQ(Win1251ToUtf8(LogTexts().back()), "ЗАПРОС СОСТОЯНИЯ(1)");
  // A byte but no table entry: the request is sent, then the range error.
  EXPECT_THROW(driver.PollStatus(0, 1), ERangeError);
  EXPECT_THROW(driver.PollStatus(33, 1), ERangeError);
  EXPECT_THROW(driver.PollStatus(1, 0), ERangeError);
  EXPECT_EQ(port.exchanges.size(), 3u);
  EXPECT_EQ(port.exchanges.back().request[0], 0xEF);
  // Bad dispenser with a bad link: result 0, no error.
  port.Then({.reply = Pairs(StatusInfo(0)), .callVerifier = false, .error = 0, .state = 3});
  EXPECT_EQ(driver.PollStatus(1, 33), 0);
}

class AmountFromVolumeTest : public AmountFromVolumeFixture {
 protected:
  double PollAmount(std::int32_t price, Bytes volume, double preset) {
    S().prices[1][1][1] = price;
    S().presetAmount[1][1] = preset;
    port.ThenInfo(StatusInfo(0xA0, {0x99, 0x99, 0x99}, volume));
    driver.PollStatus(1, 1);
    return S().amount[1][1];
  }
};

TEST_F(AmountFromVolumeTest, ComputesTheAmountAndSnapsToANearPreset) {
  EXPECT_DOUBLE_EQ(PollAmount(4590, {0x25, 0x10, 0}, 0.0), 470.48);
  EXPECT_DOUBLE_EQ(PollAmount(4590, {0x25, 0x10, 0}, 470.90), 470.90);
  EXPECT_DOUBLE_EQ(PollAmount(4590, {0x25, 0x10, 0}, 471.00), 470.48);
  EXPECT_DOUBLE_EQ(PollAmount(4549, {0x01, 0x00, 0}, 0.0), 0.00);
  // Exactly 0.01 volume units away does not snap: 1.00 at price 100.00.
  EXPECT_DOUBLE_EQ(PollAmount(10000, {0x00, 0x05, 0}, 501.0), 500.0);
}

// The product is formed in double precision: extended precision would give 566.86.
TEST_F(AmountFromVolumeTest, ComputesInDoublePrecision) {
  EXPECT_DOUBLE_EQ(PollAmount(4590, {0x35, 0x12, 0}, 0.0), 566.87);
}

TEST_F(AmountFromVolumeTest, AFreeGradeGivesZeroWithoutFailing) {
  EXPECT_EQ(PollAmount(0, {0x25, 0x10, 0}, 470.0), 0.0);
}

// A negative price (stored by a failed SetPrice) must not make every amount
// snap to the money preset.
TEST_F(AmountFromVolumeTest, ANegativePriceNeverSnapsToThePreset) {
  EXPECT_DOUBLE_EQ(PollAmount(-100, {0x00, 0x02, 0}, 9999.0), -1.99);
}

TEST_F(AmountFromVolumeTest, UsesThePriceOfTheAuthorizedGrade) {
  S().currentGrade[1][1] = 3;
  S().prices[1][1][3] = 1000;
  port.ThenInfo(StatusInfo(0xA0, {0, 0, 0}, {0x00, 0x02, 0}));
  driver.PollStatus(1, 1);
  EXPECT_DOUBLE_EQ(S().amount[1][1], 20.0);
}

TEST_F(AmountFromVolumeTest, AGradeOutsideOneToEightFailsAfterTheVolumeIsStored) {
  S().currentGrade[1][1] = 9;
  S().amount[1][1] = 3.0;
  port.ThenInfo(StatusInfo(0xA0, {0, 0, 0}, {0x00, 0x02, 0}));
  EXPECT_THROW(driver.PollStatus(1, 1), ERangeError);
  EXPECT_EQ(S().volume[1][1], 2.0);
  EXPECT_EQ(S().amount[1][1], 3.0);
}

}  // namespace
}  // namespace quorlan::testing
