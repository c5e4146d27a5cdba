// SPDX-License-Identifier: Apache-2.0
// When a fill's amount agrees with its price and volume, and what a money
// limit gives back.

#include <gtest/gtest.h>

#include "station/model/Charge.h"

namespace quorlan::station {
namespace {

struct AgreeCase {
  const char* name;
  Cents price, volume, amount;
  bool agrees;
};

TEST(Charge, AnAmountAgreesWithinTheDisplaysRounding) {
  const AgreeCase cases[] = {
      {"exact", 5100, 1016, 51816, true},
      {"half a hundredth rounded up", 3333, 50, 1667, true},
      // A money limit stops between two volume steps: 20.00 at 54.00 is 0.37 l.
      {"money limit", 5400, 37, 2000, true},
      {"one step of volume off", 5290, 100, 5290 + 5290 / 100, true},
      {"another grade's price", 5100, 1000, 53000, false},
      {"a digit off", 5100, 1000, 51100, false},
      {"nothing charged for fuel", 5100, 1000, 0, false},
      {"charged for nothing", 5100, 0, 500, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AmountAgrees(c.price, c.volume, c.amount), c.agrees) << c.name;
  }
}

TEST(Charge, OnlyAMoneyLimitIsRefunded) {
  EXPECT_EQ(Refund({FillLimit::Kind::Amount, 2000}, 1234), 766);
  EXPECT_EQ(Refund({FillLimit::Kind::Amount, 2000}, 0), 2000);
  EXPECT_EQ(Refund({FillLimit::Kind::Volume, 2000}, 1234), 0);
  EXPECT_EQ(Refund({}, 1234), 0);
}

}  // namespace
}  // namespace quorlan::station
