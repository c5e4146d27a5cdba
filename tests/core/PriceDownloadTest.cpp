#include <gtest/gtest.h>

#include "commands/Messages.h"
#include "commands/PriceDownload.h"
#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class PriceDownloadTest : public DriverFixture {};

TEST_F(PriceDownloadTest, SetPriceStoresAndSendsGradesOneToFourTwiceHighPairFirst) {
  driver.SetPrice(1, 1, 1, 0, 0, 45.67);
  EXPECT_EQ(S().prices[1][1][1], 4567);
  ASSERT_EQ(port.exchanges.size(), 1u);
  EXPECT_EQ(LastRequest(),
            (Bytes{0xC0, 0x3F, 0xA3, 0x5C, 0x45, 0xBA, 0x67, 0x98, 0x45, 0xBA, 0x67, 0x98,
                   0x22, 0xDD, 0x22, 0xDD, 0x22, 0xDD, 0x22, 0xDD, 0x33, 0xCC, 0x33, 0xCC,
                   0x33, 0xCC, 0x33, 0xCC, 0x44, 0xBB, 0x44, 0xBB, 0x44, 0xBB, 0x44, 0xBB}));
  EXPECT_EQ(port.exchanges[0].expected, 2);
  EXPECT_TRUE(Logged("SET COSTE"));
  EXPECT_EQ(S().priceDirty[1][1], 1);  // left alone
}

struct PriceCase {
  double price;
  std::int32_t stored;
  Bytes field;  // the grade's four bytes in the price table
};

class PriceFields : public PriceDownloadTest, public ::testing::WithParamInterface<PriceCase> {};

TEST_P(PriceFields, KeepFourDigitsOfTheRoundedPrice) {
  driver.SetPrice(3, 32, 2, 0, 0, GetParam().price);
  EXPECT_EQ(S().prices[3][32][2], GetParam().stored);
  const Bytes request = LastRequest();
  EXPECT_EQ(request[0], 0xDF);  // second address of dispenser 32
  const Bytes field{request[12], request[14], request[16], request[18]};
  EXPECT_EQ(field, GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(Prices, PriceFields,
                         ::testing::Values(PriceCase{123.45, 12345, {0x23, 0x45, 0x23, 0x45}},
                                           PriceCase{0.0, 0, {0x00, 0x00, 0x00, 0x00}},
                                           PriceCase{1.125, 112, {0x01, 0x12, 0x01, 0x12}},
                                           PriceCase{1.375, 138, {0x01, 0x38, 0x01, 0x38}},
                                           PriceCase{99.99, 9999, {0x99, 0x99, 0x99, 0x99}}));

TEST_F(PriceDownloadTest, AGradeAboveFourIsStoredButTheTableCarriesOneToFour) {
  driver.SetPrice(1, 1, 6, 0, 0, 12.34);
  EXPECT_EQ(S().prices[1][1][6], 1234);
  EXPECT_EQ(LastRequest()[4], 0x11);
  EXPECT_EQ(LastRequest()[6], 0x11);
}

TEST_F(PriceDownloadTest, OutOfRangeArgumentsStoreNothingAndSendNothing) {
  const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, double> bad[] = {
      {0, 1, 1, 1.0}, {33, 1, 1, 1.0}, {1, 0, 1, 1.0},  {1, 33, 1, 1.0}, {1, 1, 0, 1.0},
      {1, 1, 9, 1.0}, {1, 1, 1, 3e7},  {1, 1, 1, -3e7}, {1, 1, 1, 1e308}};
  for (auto [c, d, g, price] : bad) {
    EXPECT_THROW(driver.SetPrice(c, d, g, 0, 0, price), ERangeError);
  }
  EXPECT_TRUE(port.exchanges.empty());
  EXPECT_EQ(S().prices[1][1][1], 1111);
  EXPECT_FALSE(Logged("SET COSTE"));
}

TEST_F(PriceDownloadTest, ANegativePriceIsStoredLoggedAndBlocksTheDownload) {
  EXPECT_THROW(driver.SetPrice(1, 1, 2, 0, 0, -1.0), ERangeError);
  EXPECT_EQ(S().prices[1][1][2], -100);
  EXPECT_TRUE(Logged("SET COSTE"));
  EXPECT_THROW(driver.SetPrice(1, 1, 1, 0, 0, 5.0), ERangeError);
  EXPECT_TRUE(port.exchanges.empty());
  driver.SetPrice(1, 1, 2, 0, 0, 2.0);
  EXPECT_EQ(port.exchanges.size(), 1u);
}

TEST_F(PriceDownloadTest, AFailedDownloadKeepsTheNewPrice) {
  port.ThenFail(0x1F4);
  try {
    driver.SetPrice(1, 1, 1, 0, 0, 45.67);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_EQ(e.Message(), messages::kSetPrice);
    EXPECT_EQ(e.Message(),
              "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xE2\xFB\xEF\xEE\xEB\xED\xE8\xF2\xFC "
              "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xF3 \xF6\xE5\xED\xFB");
  }
  EXPECT_EQ(S().prices[1][1][1], 4567);
}

TEST_F(PriceDownloadTest, SendPricesSendsGradeOneLowPairFirstAndClearsTheMark) {
  S().prices[1][1][1] = 4567;
  SendPrices(S(), 1, 1);
  EXPECT_EQ(LastRequest(), (Bytes{0xF0, 0x0F, 0xA6, 0x59, 0x67, 0x98, 0x45, 0xBA, 0x00, 0xFF,
                                  0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF}));
  EXPECT_EQ(port.exchanges[0].expected, 4);
  EXPECT_EQ(S().priceDirty[1][1], 0);
  EXPECT_EQ(LogTexts().back(), "Verif(1)");  // no trace line of its own
}

TEST_F(PriceDownloadTest, SendPricesClearsTheMarkEvenWhenItFails) {
  port.ThenFail(0xF6);
  try {
    SendPrices(S(), 2, 3);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_EQ(e.Message(), messages::kStatusRequest);
  }
  EXPECT_EQ(S().priceDirty[2][3], 0);

  S().prices[2][4][1] = -5;
  EXPECT_THROW(SendPrices(S(), 2, 4), ERangeError);
  EXPECT_EQ(S().priceDirty[2][4], 0);

  S().priceDirty[0][1] = 1;
  EXPECT_THROW(SendPrices(S(), 0, 1), ERangeError);
  EXPECT_EQ(S().priceDirty[0][1], 0);
  EXPECT_EQ(port.exchanges.size(), 1u);
}

}  // namespace
}  // namespace quorlan::testing
