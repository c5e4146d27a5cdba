#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/Errors.h"
#include "link/Bcd.h"

namespace quorlan {
namespace {

struct PairCase {
  std::int64_t x;
  int k;
  int pair;  // -1: range error
};

class DigitPairs : public ::testing::TestWithParam<PairCase> {};

TEST_P(DigitPairs, HoldTwoDecimalDigitsOrFail) {
  const auto& c = GetParam();
  if (c.pair < 0) {
    EXPECT_THROW(BcdPair(c.x, c.k), ERangeError);
  } else {
    EXPECT_EQ(BcdPair(c.x, c.k), c.pair);
  }
}

INSTANTIATE_TEST_SUITE_P(Values, DigitPairs,
                         ::testing::Values(PairCase{123456, 0, 0x56}, PairCase{123456, 1, 0x34},
                                           PairCase{123456, 2, 0x12}, PairCase{4567, 2, 0x00},
                                           PairCase{12345, 1, 0x23}, PairCase{12345, 2, 0x01},
                                           PairCase{999999, 2, 0x99}, PairCase{0, 0, 0x00},
                                           PairCase{-100, 0, 0x00}, PairCase{-100, 1, -1},
                                           PairCase{-1, 0, -1}, PairCase{-5, 0, -1},
                                           PairCase{-10, 0, -1}));

TEST(BcdToInt, ReadsNibblesAsDigitsMostSignificantFirst) {
  const std::uint8_t twoBytes[] = {0x12, 0x34};
  EXPECT_EQ(BcdToInt(0x99), 99);
  EXPECT_EQ(BcdToInt(0x00), 0);
  EXPECT_EQ(BcdToInt(twoBytes), 1234);
  // Nibbles above 9 are taken at face value, not rejected.
  EXPECT_EQ(BcdToInt(0xA5), 105);
  EXPECT_EQ(BcdToInt(0xFF), 165);
}

TEST(BcdDigits, TellDecimalBytesFromOthers) {
  EXPECT_TRUE(IsBcdByte(0x99));
  EXPECT_TRUE(IsBcdByte(0x00));
  EXPECT_FALSE(IsBcdByte(0x1A));
  EXPECT_FALSE(IsBcdByte(0xA0));
}

struct HundredthsCase {
  double value;
  std::int32_t hundredths;
};

class Hundredths : public ::testing::TestWithParam<HundredthsCase> {};

TEST_P(Hundredths, RoundTheExactProductHalfToEven) {
  EXPECT_EQ(ToHundredths(GetParam().value), GetParam().hundredths);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Hundredths,
    ::testing::Values(
        HundredthsCase{0.125, 12}, HundredthsCase{0.375, 38}, HundredthsCase{1.125, 112},
        HundredthsCase{1.375, 138}, HundredthsCase{45.67, 4567}, HundredthsCase{123.45, 12345},
        HundredthsCase{1234.56, 123456}, HundredthsCase{10.5, 1050}, HundredthsCase{0.0, 0},
        HundredthsCase{-1.0, -100}, HundredthsCase{-0.125, -12}, HundredthsCase{-0.375, -38},
        // Decided by the exact product, not by the product rounded to double
        // (which would give 0, 2, 2, 16, 18).
        HundredthsCase{0.005, 1}, HundredthsCase{0.015, 1}, HundredthsCase{0.025, 3},
        HundredthsCase{0.155, 15}, HundredthsCase{0.175, 17},
        HundredthsCase{21474836.47, 2147483647}, HundredthsCase{-21474836.48, -2147483647 - 1}));

TEST(Hundredths, FailOutsideTheSigned32BitRangeAndForNonNumbers) {
  for (double bad :
       {21474836.48, -21474836.49, 1e300, -1e300, std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_THROW(ToHundredths(bad), ERangeError) << bad;
  }
}

}  // namespace
}  // namespace quorlan
