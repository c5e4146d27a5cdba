#include <gtest/gtest.h>

#include "commands/Messages.h"
#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class TransactionReadoutTest : public DriverFixture {};

TEST_F(TransactionReadoutTest, HandsOutWhatTheLastPollStoredWhateverTheReply) {
  S().volume[1][3] = 12.34;
  S().amount[1][3] = 567.89;
  for (int pairs : {9, 1}) {
    port.ThenInfo(Bytes(pairs, 0x42));
    double amount = -1;
    EXPECT_EQ(driver.ReadTransaction(1, 3, amount), 12.34);
    EXPECT_EQ(amount, 567.89);
  }
  EXPECT_EQ(port.exchanges[0].request, (Bytes{0xF2, 0x0D, 0xA1, 0x5E}));
  EXPECT_EQ(port.exchanges[0].expected, 18);
  double volume = 0, amount = 0;
  driver.GetTransaction(1, 3, volume, amount);
  EXPECT_EQ(volume, 12.34);
  EXPECT_EQ(amount, 567.89);
  EXPECT_EQ(S().volume[1][3], 12.34);
}

TEST_F(TransactionReadoutTest, ABadLinkGivesZerosWithoutAnError) {
  S().volume[1][1] = 5;
  S().amount[1][1] = 6;
  port.Then({.reply = Pairs({0}), .callVerifier = false, .error = 0, .state = 3});
  double volume = -1, amount = -1;
  driver.GetTransaction(1, 1, volume, amount);
  EXPECT_EQ(volume, 0.0);
  EXPECT_EQ(amount, 0.0);
}

TEST_F(TransactionReadoutTest, AFailedExchangeRaisesWithTheAmountAlreadyCleared) {
  port.ThenFail(0x1F4);
  double volume = -1, amount = -1;
  try {
    driver.GetTransaction(1, 1, volume, amount);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_EQ(e.Message(), messages::kTransactionRequest);
  }
  EXPECT_EQ(amount, 0.0);
  EXPECT_EQ(volume, -1);  // the store never happened
  EXPECT_TRUE(Logged("GET DATA TRANSACTION"));
}

TEST_F(TransactionReadoutTest, RangeErrorsFollowTheOrderOfTheChecks) {
  double amount = -1;
  EXPECT_THROW(driver.ReadTransaction(256, 1, amount), ERangeError);
  EXPECT_EQ(amount, 0.0);
  EXPECT_TRUE(port.exchanges.empty());
  EXPECT_THROW(driver.ReadTransaction(33, 1, amount), ERangeError);
  EXPECT_THROW(driver.ReadTransaction(1, 33, amount), ERangeError);
  EXPECT_EQ(port.exchanges.size(), 2u);
  port.Then({.reply = Pairs({0}), .callVerifier = false, .error = 0, .state = 3});
  EXPECT_EQ(driver.ReadTransaction(1, 0, amount), 0.0);
}

}  // namespace
}  // namespace quorlan::testing
