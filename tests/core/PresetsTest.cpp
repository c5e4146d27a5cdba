#include <gtest/gtest.h>

#include "commands/Messages.h"
#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class PresetsTest : public DriverFixture {
 protected:
  // The money and volume limit fields of the last preset request.
  std::pair<Bytes, Bytes> LimitFields() const {
    const Bytes r = LastRequest();
    return {{r[10], r[12], r[14]}, {r[16], r[18], r[20]}};
  }
};

TEST_F(PresetsTest, PresetFormCarriesGradePriceAndBothLimits) {
  S().prices[1][2][1] = 4567;
  S().presetAmount[1][2] = 1234.56;
  S().presetVolume[1][2] = 10.5;
  driver.Authorize(1, 2, 1, 1);
  EXPECT_EQ(LastRequest(),
            (Bytes{0xF1, 0x0E, 0xA5, 0x5A, 0x01, 0xFE, 0x67, 0x98, 0x45, 0xBA, 0x56,
                   0xA9, 0x34, 0xCB, 0x12, 0xED, 0x50, 0xAF, 0x10, 0xEF, 0x00, 0xFF}));
  EXPECT_EQ(port.exchanges[0].expected, 4);
  EXPECT_TRUE(Logged("START"));
  EXPECT_EQ(S().startGuard[1][2], 11);
  EXPECT_EQ(S().currentGrade[1][2], 1);
}

TEST_F(PresetsTest, StartSendsExactlyThePresetForm) {
  driver.Start(1, 2, 3);
  driver.Authorize(1, 2, 3, 1);
  EXPECT_EQ(port.exchanges[0].request, port.exchanges[1].request);
}

TEST_F(PresetsTest, PlainFormSendsNoDataAndNoTraceLine) {
  driver.Authorize(1, 2, 1, 0);
  EXPECT_EQ(LastRequest(), (Bytes{0xF1, 0x0E, 0xA4, 0x5B}));
  EXPECT_EQ(port.exchanges[0].expected, 2);
  EXPECT_FALSE(Logged("START"));
  EXPECT_EQ(S().startGuard[1][2], 11);
  // Only the low byte of the flag counts.
  driver.Authorize(1, 2, 1, static_cast<std::uint8_t>(0x100));
  EXPECT_EQ(LastRequest()[2], 0xA4);
}

struct LimitCase {
  const char* name;
  bool amountFromVolume;
  int preset;  // 0 none, 1 volume, 2 amount
  double value;
  std::int32_t price;
  Bytes amountField;
  Bytes volumeField;
};

class LimitFieldsTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(LimitFieldsTest, AreSentLeastSignificantPairFirst) {
  const auto& c = GetParam();
  FakeDispatcher port;
  MemoryLogPlatform platform;
  Logger logger(platform);
  TVM30 driver(port, c.amountFromVolume ? kFlagAmountFromVolume : 0, logger);
  driver.State().prices[1][1][2] = c.price;
  if (c.preset == 1) driver.SetVolumePreset(1, 1, 0, 0, c.value);
  if (c.preset == 2) driver.SetAmountPreset(1, 1, 2, 0, c.value);
  driver.Authorize(1, 1, 2, 1);
  const Bytes r = port.exchanges.back().request;
  EXPECT_EQ((Bytes{r[10], r[12], r[14]}), c.amountField);
  EXPECT_EQ((Bytes{r[16], r[18], r[20]}), c.volumeField);
}

INSTANTIATE_TEST_SUITE_P(
    Presets, LimitFieldsTest,
    ::testing::Values(
        LimitCase{"none", false, 0, 0, 2222, {0, 0, 0}, {0, 0, 0}},
        LimitCase{"volume", false, 1, 12.5, 2222, {0x00, 0x99, 0x99}, {0x50, 0x12, 0x00}},
        LimitCase{"amount", false, 2, 500.0, 2222, {0x00, 0x00, 0x05}, {0x00, 0x99, 0x09}},
        LimitCase{"amountAtPrice", true, 2, 500.0, 4550, {0x00, 0x00, 0x05}, {0x99, 0x10, 0x00}},
        LimitCase{"freeGrade", true, 2, 500.0, 0, {0x00, 0x00, 0x05}, {0x00, 0x99, 0x09}},
        LimitCase{"halfDown", false, 1, 0.125, 2222, {0x00, 0x99, 0x99}, {0x12, 0x00, 0x00}},
        LimitCase{"halfUp", false, 1, 0.375, 2222, {0x00, 0x99, 0x99}, {0x38, 0x00, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PresetsTest, PresetsReplaceBothLimits) {
  driver.SetVolumePreset(1, 1, 7, 8, 12.5);
  EXPECT_EQ(S().presetVolume[1][1], 12.5);
  EXPECT_EQ(S().presetAmount[1][1], 9999.0);
  driver.SetAmountPreset(1, 1, 0, 0, 500.0);  // grade not examined here
  EXPECT_EQ(S().presetAmount[1][1], 500.0);
  EXPECT_EQ(S().presetVolume[1][1], 999.0);
  EXPECT_TRUE(port.exchanges.empty());
}

TEST(AmountPreset, DerivesTheVolumeLimitUnrounded) {
  FakeDispatcher port;
  MemoryLogPlatform platform;
  Logger logger(platform);
  TVM30 driver(port, kFlagAmountFromVolume, logger);
  driver.State().prices[1][1][1] = 4550;
  driver.SetAmountPreset(1, 1, 1, 0, 500.0);
  EXPECT_DOUBLE_EQ(driver.State().presetVolume[1][1], 10.989010989010989);
  // A grade outside 1..8 fails after both limits are stored.
  EXPECT_THROW(driver.SetAmountPreset(1, 1, 9, 0, 300.0), ERangeError);
  EXPECT_EQ(driver.State().presetAmount[1][1], 300.0);
  EXPECT_EQ(driver.State().presetVolume[1][1], 999.0);
}

TEST_F(PresetsTest, PresetRangeErrors) {
  for (auto [c, d] : {std::pair{0u, 1u}, {33u, 1u}, {1u, 0u}, {1u, 33u}}) {
    EXPECT_THROW(driver.SetVolumePreset(c, d, 0, 0, 1.0), ERangeError);
    EXPECT_THROW(driver.SetAmountPreset(c, d, 1, 0, 1.0), ERangeError);
  }
}

TEST_F(PresetsTest, AGradeAboveEightIsStoredByThePlainFormOnly) {
  driver.Authorize(1, 1, 9, 0);
  EXPECT_EQ(S().currentGrade[1][1], 9);
  EXPECT_EQ(port.exchanges.size(), 1u);
  EXPECT_THROW(driver.Authorize(1, 1, 9, 1), ERangeError);
  EXPECT_TRUE(Logged("START"));
  EXPECT_EQ(S().currentGrade[1][1], 9);
  EXPECT_EQ(port.exchanges.size(), 1u);
}

TEST_F(PresetsTest, AuthorizeRangeChecksBeforeStoring) {
  for (auto [c, d, g] : {std::tuple{33u, 1u, 1u}, {1u, 0u, 1u}, {1u, 33u, 1u}, {1u, 1u, 256u}}) {
    EXPECT_THROW(driver.Authorize(c, d, g, 0), ERangeError);
  }
  EXPECT_TRUE(port.exchanges.empty());
  EXPECT_EQ(S().currentGrade[1][1], 1);
}

TEST_F(PresetsTest, ChannelZeroPassesToTheExchangeOnlyInThePlainForm) {
  port.ThenFail(0x1F4);
  EXPECT_THROW(driver.Authorize(0, 3, 2, 0), ESerialIO);
  EXPECT_EQ(S().currentGrade[0][3], 2);
  EXPECT_EQ(port.exchanges.size(), 1u);
  EXPECT_THROW(driver.Authorize(0, 3, 4, 1), ERangeError);
  EXPECT_EQ(S().currentGrade[0][3], 4);
  EXPECT_EQ(port.exchanges.size(), 1u);
}

TEST_F(PresetsTest, UnsendableLimitsFailBeforeAnythingIsSent) {
  for (double volume : {-1.0, 3e7, std::numeric_limits<double>::quiet_NaN()}) {
    S().startGuard[1][1] = 0;
    driver.SetVolumePreset(1, 1, 0, 0, volume);
    EXPECT_THROW(driver.Authorize(1, 1, 5, 1), ERangeError) << volume;
    EXPECT_EQ(S().currentGrade[1][1], 5);
    EXPECT_EQ(S().startGuard[1][1], 0);
  }
  S().prices[1][1][5] = -100;
  driver.SetVolumePreset(1, 1, 0, 0, 1.0);
  EXPECT_THROW(driver.Authorize(1, 1, 5, 1), ERangeError);
  EXPECT_TRUE(port.exchanges.empty());
}

TEST_F(PresetsTest, AFailedAuthorizationKeepsTheGradeButNotTheGuard) {
  port.ThenFail(0x1F4);
  try {
    driver.Authorize(1, 1, 3, 1);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_EQ(e.Message(), "Can't Start");
  }
  EXPECT_EQ(S().currentGrade[1][1], 3);
  EXPECT_EQ(S().startGuard[1][1], 0);
}

}  // namespace
}  // namespace quorlan::testing
