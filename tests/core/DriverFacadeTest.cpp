// The public facade: the price book's rule that no price nobody gave reaches
// the line, by any path, and the errors a client sees.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "quorlan/Driver.h"
#include "support/DriverFixture.h"
#include "support/FakeDispatcher.h"

namespace quorlan::testing {
namespace {

constexpr Channel kC = 1;
constexpr Dispenser kD = 1;

// The price-bearing requests of the exchanges, as "A6 12.34" (grade 1 price),
// "A3 1.50 2.50 3.50 4.50" (price table) or "A5 g2 2.05" (preset authorize).
std::vector<std::string> PricesOnLine(const std::vector<ExchangeRecord>& exchanges) {
  const auto money = [](int high, int low) {
    const auto digits = [](int bcd) { return (bcd >> 4) * 10 + (bcd & 15); };
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", digits(high), digits(low));
    return std::string(text);
  };
  std::vector<std::string> found;
  for (const auto& exchange : exchanges) {
    Bytes info;
    for (std::size_t i = 0; i < exchange.request.size(); i += 2)
      info.push_back(exchange.request[i]);
    const bool second = info[0] == AddressByte(kD + kSecondAddressOffset);
    if (info[1] == 0xA6) found.push_back("A6 " + money(info[3], info[2]));
    if (info[1] == 0xA3 && second) {
      std::string text = "A3";
      for (int g = 0; g < 4; ++g) text += " " + money(info[2 + 4 * g], info[3 + 4 * g]);
      found.push_back(text);
    }
    if (info[1] == 0xA5) {
      found.push_back("A5 g" + std::to_string(info[2]) + " " + money(info[4], info[3]));
    }
  }
  return found;
}

struct BookCase {
  const char* name;
  std::vector<std::pair<Grade, double>> given;  // prices given for dispenser 1
  std::uint8_t status;                          // what the dispenser reports to a poll
  std::function<void(Driver&)> action;
  std::vector<std::string> expected;  // price-bearing requests, in order
  bool throwsNoPrice = false;
};

class PriceBookTest : public ::testing::TestWithParam<BookCase> {};

TEST_P(PriceBookTest, OnlyGivenPricesReachTheLine) {
  const BookCase& c = GetParam();
  FakeDispatcher port;
  port.responder = [&c](const ExchangeRecord& record) {
    const bool status = record.request[2] == 0xA1 && record.request[0] == AddressByte(kD);
    return ScriptedReply{
        .reply = Pairs(status ? StatusInfo(c.status) : Bytes(std::size_t(record.expected / 2), 0))};
  };
  Driver driver(port);
  for (const auto& [grade, price] : c.given) driver.SetPrice(kC, kD, grade, price);
  if (c.throwsNoPrice) {
    EXPECT_THROW(c.action(driver), NoPrice);
  } else {
    c.action(driver);
  }
  EXPECT_EQ(PricesOnLine(port.exchanges), c.expected);
}

const auto kPoll = [](Driver& driver) { driver.Poll(kC, kD); };
const auto kPollTwice = [](Driver& driver) {
  driver.Poll(kC, kD);
  driver.Poll(kC, kD);
};
const std::vector<std::pair<Grade, double>> kTable = {{1, 1.5}, {2, 2.5}, {3, 3.5}, {4, 4.5}};

INSTANTIATE_TEST_SUITE_P(
    Paths, PriceBookTest,
    ::testing::Values(
        BookCase{"PollWithoutGradeOne", {{2, 2.5}}, 0xA0, kPoll, {}},
        BookCase{"PollSendsGivenGradeOneOnce", {{1, 12.34}}, 0xA0, kPollTwice, {"A6 12.34"}},
        BookCase{"PowerUpWithoutGradeOne", {}, 0x2F, kPollTwice, {}},
        BookCase{"PowerUpGetsGivenGradeOne",
                 {{1, 0.99}},
                 0x2F,
                 kPollTwice,
                 {"A6 0.99", "A6 0.99", "A6 0.99"}},
        BookCase{"TableMissingGradeFour",
                 {{1, 1.5}, {2, 2.5}, {3, 3.5}},
                 0xA0,
                 [](Driver& d) { d.DownloadPrices(kC, kD); },
                 {},
                 true},
        BookCase{"TableWhole",
                 kTable,
                 0xA0,
                 [](Driver& d) { d.DownloadPrices(kC, kD); },
                 {"A3 1.50 2.50 3.50 4.50"}},
        BookCase{"VolumeLimitWithoutGradePrice",
                 {{1, 1.5}},
                 0xA0,
                 [](Driver& d) { d.Authorize(kC, kD, 2, Limit::Volume(10)); },
                 {},
                 true},
        BookCase{"AmountLimitWithoutGradePrice",
                 {{1, 1.5}},
                 0xA0,
                 [](Driver& d) { d.Authorize(kC, kD, 2, Limit::Amount(10)); },
                 {},
                 true},
        BookCase{"LimitUsesTheGradesPrice",
                 {{2, 2.05}},
                 0xA0,
                 [](Driver& d) { d.Authorize(kC, kD, 2, Limit::Volume(10)); },
                 {"A5 g2 2.05"}},
        BookCase{
            "PlainAuthorizeNeedsNoPrice", {}, 0xA0, [](Driver& d) { d.Authorize(kC, kD, 3); }, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DriverFacadeTest, PowerUpWithoutPricesIsToldApartFromFinished) {
  FakeDispatcher port;
  Driver driver(port);
  port.ThenInfo(StatusInfo(0x2F));
  const Status poweredUp = driver.Poll(kC, kD, 0);
  port.ThenInfo(StatusInfo(0x20));
  const Status finished = driver.Poll(kC, kD, 0);
  EXPECT_EQ(poweredUp.code, finished.code);
  EXPECT_EQ(poweredUp.state, DispenserState::NoPrices);
  EXPECT_EQ(poweredUp.statusByte, 0x2F);
  EXPECT_EQ(finished.state, DispenserState::Finished);
  EXPECT_EQ(StateName(finished.state), "finished");
}

TEST(DriverFacadeTest, NozzleModeZeroClaimsNoNozzle) {
  FakeDispatcher port;
  Driver driver(port);
  port.ThenInfo(StatusInfo(0x99));
  const Status status = driver.Poll(kC, kD, 0);
  EXPECT_EQ(status.state, DispenserState::Filling);
  EXPECT_EQ(status.nozzle, 0);
}

TEST(DriverFacadeTest, RefusedArgumentsSendNothing) {
  FakeDispatcher port;
  Driver driver(port);
  driver.SetPrice(kC, kD, 1, 1.5);
  EXPECT_THROW(driver.Poll(0, kD), InvalidArgument);
  EXPECT_THROW(driver.Stop(kC, 33), InvalidArgument);
  EXPECT_THROW(driver.Authorize(kC, kD, 1, Limit::Volume(0)), InvalidArgument);
  EXPECT_THROW(driver.Authorize(kC, kD, 1, Limit::Amount(-5)), InvalidArgument);
  EXPECT_THROW(driver.Authorize(kC, kD, 1, Limit::Volume(10000)), InvalidArgument);
  EXPECT_THROW(driver.Totals(kC, kD, 9), InvalidArgument);
  for (double price : {0.0, 1.234, 100.0, -1.0}) {
    EXPECT_THROW(driver.SetPrice(kC, kD, 2, price), InvalidArgument) << price;
  }
  EXPECT_FALSE(driver.Price(kC, kD, 2));
  EXPECT_TRUE(port.exchanges.empty());
}

TEST(DriverFacadeTest, FailedExchangeIsALinkFailureWithItsCode) {
  FakeDispatcher port;
  Driver driver(port);
  port.ThenFail(static_cast<std::uint32_t>(LinkError::NoReply));
  try {
    driver.Stop(kC, kD);
    FAIL() << "no exception";
  } catch (const LinkFailure& failure) {
    EXPECT_EQ(failure.Code(), 0x1F4u);
    EXPECT_STREQ(failure.what(), "stop failed on channel 1: no reply");
  }
}

TEST(DriverFacadeTest, ShortTotalsReadoutIsAFailureNotZero) {
  FakeDispatcher port;
  Driver driver(port);
  // Two bytes pass the reply check but carry no counter.
  port.Then({.reply = Pairs({0})});
  EXPECT_THROW(driver.Totals(kC, kD, 1), LinkFailure);
  port.ThenInfo({0x45, 0x23, 0x01, 0, 0, 0x89, 0x67, 0, 0, 0, 0});
  const Reading totals = driver.Totals(kC, kD, 1);
  EXPECT_DOUBLE_EQ(totals.volume, 123.45);
  EXPECT_DOUBLE_EQ(totals.amount, 67.89);
}

// A figure with a digit above 9 is a bad reply for the facade: it throws,
// stores nothing (the fill's last good figures stay) and the next poll reads
// again. The DLL's status poll keeps reading such a digit at face value
// (StatusPollTest).
TEST(DriverFacadeTest, AFigureWithADigitAboveNineIsABadReply) {
  struct Case {
    const char* what;
    Bytes amount, volume;
    bool bad;
  };
  const Case cases[] = {
      {"decimal digits", {0x50, 0x34, 0x12}, {0x25, 0x10, 0x00}, false},
      {"nines everywhere", {0x99, 0x99, 0x99}, {0x99, 0x99, 0x99}, false},
      {"amount hundredths, high nibble", {0xA0, 0x00, 0x00}, {0x01, 0x00, 0x00}, true},
      {"amount hundredths, low nibble", {0x0B, 0x00, 0x00}, {0x01, 0x00, 0x00}, true},
      {"amount thousands", {0x00, 0x00, 0xF0}, {0x01, 0x00, 0x00}, true},
      {"volume hundredths", {0x00, 0x00, 0x00}, {0x0C, 0x00, 0x00}, true},
      {"volume top pair", {0x00, 0x00, 0x00}, {0x00, 0x00, 0xA0}, true},
      {"every nibble", {0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDispatcher port;
    Driver driver(port);
    port.ThenInfo(StatusInfo(0x99, {0x00, 0x10, 0x00}, {0x50, 0x02, 0x00}));
    driver.Poll(kC, kD, 0);
    port.ThenInfo(StatusInfo(0x99, c.amount, c.volume));
    if (!c.bad) {
      EXPECT_EQ(driver.Poll(kC, kD, 0).state, DispenserState::Filling);
      continue;
    }
    try {
      driver.Poll(kC, kD, 0);
      ADD_FAILURE() << "taken as a reading";
    } catch (const LinkFailure& failure) {
      EXPECT_EQ(failure.Code(), Code(LinkError::BadDigit));
      EXPECT_STREQ(failure.what(),
                   "status reply on channel 1, dispenser 1: reply has a digit that is not decimal");
    }
    port.ThenInfo(StatusInfo(0x99));
    const Reading kept = driver.Transaction(kC, kD);
    EXPECT_DOUBLE_EQ(kept.amount, 10.00);
    EXPECT_DOUBLE_EQ(kept.volume, 2.50);
    // Read again: a sound reply is taken.
    port.ThenInfo(StatusInfo(0x99, {0x00, 0x11, 0x00}, {0x60, 0x02, 0x00}));
    EXPECT_DOUBLE_EQ(driver.Poll(kC, kD, 0).amount, 11.00);
  }
}

}  // namespace
}  // namespace quorlan::testing
