#include <gtest/gtest.h>

#include <stdexcept>

#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class TransactTest : public DriverFixture {
 protected:
  std::uint32_t Send(std::int64_t channel, int subAddress, std::uint8_t expected,
                     const Bytes& request, std::uint8_t command) {
    std::copy(request.begin(), request.end(), data.begin());
    return S().link.Transact(channel, subAddress, expected, static_cast<int>(request.size()), data,
                             command);
  }
  ReplyBuffer data{};
};

TEST_F(TransactTest, RegistersTheVerifierThenExchangesTheFrame) {
  EXPECT_EQ(Send(2, 3, 2, {}, 0xA3), 0u);
  ASSERT_EQ(port.exchanges.size(), 1u);
  EXPECT_EQ(port.exchanges[0].channel, 2);
  EXPECT_EQ(port.exchanges[0].request, (Bytes{0xF2, 0x0D, 0xA3, 0x5C}));
  EXPECT_EQ(port.exchanges[0].expected, 2);
  EXPECT_EQ(port.exchanges[0].reserved, 0);
  EXPECT_EQ(port.verifierRegistrations, std::vector<std::int32_t>{2});
}

TEST_F(TransactTest, LeavesTheReplyInTheDataBuffer) {
  port.ThenInfo({0x11, 0x22});
  EXPECT_EQ(Send(1, 1, 4, {0x45, 0x67}, 0xA6), 0u);
  EXPECT_EQ(port.exchanges[0].request, (Bytes{0xF0, 0x0F, 0xA6, 0x59, 0x45, 0xBA, 0x67, 0x98}));
  EXPECT_EQ(data[0], 0x11);
  EXPECT_EQ(data[2], 0x22);
}

struct FailureCase {
  std::uint32_t code;
  const char* logged;
};

class FailedExchange : public TransactTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedExchange, IsLoggedWithItsCodeInHexAndReturned) {
  port.ThenFail(GetParam().code);
  EXPECT_EQ(Send(1, 1, 2, {}, 0xA3), GetParam().code);
  EXPECT_TRUE(Logged(GetParam().logged));
  EXPECT_EQ(driver.GetLinkState(1), kLinkBad);
}

INSTANTIATE_TEST_SUITE_P(Codes, FailedExchange,
                         ::testing::Values(FailureCase{0xF6, "Error connect BS: F6"},
                                           FailureCase{0x1F4, "Error connect BS: 1F4"},
                                           FailureCase{0x05, "Error connect BS: 05"},
                                           FailureCase{0xDB, "Error connect BS: DB"}));

TEST_F(TransactTest, BadComplementFromTheVerifierFailsTheExchange) {
  Bytes reply = Pairs({0x20});
  reply[1] = 0;
  port.Then({.reply = reply});
  EXPECT_EQ(Send(1, 1, 2, {}, 0xA3), kErrorBadComplement);
  EXPECT_TRUE(Logged("Error connect BS: F6"));
}

TEST_F(TransactTest, LinkStateFollowsWhatTheDispatcherReports) {
  for (std::uint8_t state : {1, 3, 0, 7, 1}) {
    port.Then({.reply = Pairs({0}), .callVerifier = false, .error = 0, .state = state});
    EXPECT_EQ(Send(4, 1, 2, {}, 0xA3), 0u);
    EXPECT_EQ(driver.GetLinkState(4), state);
  }
}

TEST_F(TransactTest, ChannelsOutsideTheTableBecomeTheDispatchersErrorCode) {
  // The exchange happens, but there is no link state entry for channel 33.
  port.errors[33] = 0x1F4;
  port.Then({.reply = Pairs({0}), .callVerifier = false});
  EXPECT_EQ(Send(33, 1, 2, {}, 0xA3), 0x1F4u);
  EXPECT_TRUE(Logged("Exception error connect BS(Range check error): 1F4"));

  // With no error recorded the result is success and nothing is logged.
  EXPECT_EQ(Send(0, 1, 2, {}, 0xA3), 0u);
  EXPECT_EQ(LogTexts().back(), "Verif(0)");
}

TEST_F(TransactTest, OversizedRequestIsNeverSentAndFailsWithTheDriversOwnCode) {
  port.errors[1] = 0;
  EXPECT_EQ(S().link.Transact(1, 1, 2, 126, data, 0xA3), 0x1F7u);
  EXPECT_TRUE(port.exchanges.empty());
  EXPECT_EQ(port.verifierRegistrations.size(), 1u);
  EXPECT_EQ(LogTexts().back(), "Exception error connect BS(Range check error): 1F7");
}

// Raises out of the exchange after recording `error` for channel 1.
class ThrowingDispatcher : public FakeDispatcher {
 public:
  explicit ThrowingDispatcher(std::uint32_t error) : error_(error) {}
  std::uint32_t Exchange(std::int32_t, const std::uint8_t*, std::int32_t, std::uint8_t*,
                         std::int32_t, std::int32_t) override {
    errors[1] = error_;
    throw std::runtime_error("line gone");
  }

 private:
  std::uint32_t error_;
};

// An exchange that did not finish keeps the channel's error; with none
// recorded it is the driver's own failure, never a success.
TEST(TransactExceptions, AreCaughtAndNeverReportSuccess) {
  const struct {
    std::uint32_t recorded, returned;
    const char* logged;
  } cases[] = {{0x42, 0x42, "Exception error connect BS(line gone): 42"},
               {0, 0x1F7, "Exception error connect BS(line gone): 1F7"}};
  for (const auto& c : cases) {
    MemoryLogPlatform platform;
    Logger logger(platform);
    logger.SetFileName(kTestLog);
    ThrowingDispatcher port(c.recorded);
    TVM30 driver(port, 0, logger);
    ReplyBuffer data{};
    EXPECT_EQ(driver.State().link.Transact(1, 1, 2, 0, data, 0xA3), c.returned);
    EXPECT_EQ(platform.Texts(kTestLog).back(), c.logged);
    // The command then raises its own error.
    EXPECT_THROW(driver.Stop(1, 1, 0), ESerialIO) << c.logged;
  }
}

TEST_F(TransactTest, OpenChannelConfiguresTheLineOnceAndMarksFourDispensers) {
  for (int d = 1; d <= kDispensers; ++d) S().priceDirty[2][d] = 0;
  driver.OpenChannel(2);
  ASSERT_EQ(port.configures.size(), 1u);
  EXPECT_EQ(port.configures[0].channel, 2);
  EXPECT_EQ(port.configures[0].lineSetting, 3);
  EXPECT_EQ(port.configures[0].baud, 9600);
  EXPECT_EQ(port.setupRegistrations, std::vector<std::int32_t>{2});
  for (int d = 1; d <= kDispensers; ++d) EXPECT_EQ(S().priceDirty[2][d], d <= 4) << d;

  // The registered handler sets the line up again when the dispatcher asks.
  port.setupHandlers[2](2);
  EXPECT_EQ(port.configures.size(), 2u);
}

TEST_F(TransactTest, OpenChannelAcceptsChannelZeroAndRefusesChannelsAbove32AfterSetup) {
  driver.OpenChannel(0);
  EXPECT_EQ(S().priceDirty[0][1], 1);
  EXPECT_THROW(driver.OpenChannel(33), ERangeError);
  EXPECT_EQ(port.configures.back().channel, 33);
}

}  // namespace
}  // namespace quorlan::testing
