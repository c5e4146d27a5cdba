#include <gtest/gtest.h>

#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

// A whole fill through the operation table, as a host drives it.
class FillScenarioTest : public DriverFixture {
 protected:
  std::uint8_t NozzleStatus() {
    NozzleStatusRecord record;
    driver.GetNozzleStatus(1, 1, 2, record);
    return record.bytes[0];
  }
  std::vector<std::uint8_t> Commands() const {
    std::vector<std::uint8_t> commands;
    for (const auto& e : port.exchanges) commands.push_back(e.request[2]);
    return commands;
  }
};

TEST_F(FillScenarioTest, PricesPresetAuthorizePollsReleaseReadoutAndTotals) {
  driver.OpenChannel(1);
  driver.SetPrice(1, 1, 1, 0, 0, 45.67);
  driver.SetVolumePreset(1, 1, 0, 0, 10.0);
  driver.Start(1, 1, 1);
  EXPECT_EQ(S().startGuard[1][1], 11);

  // Still idle right after the authorization: reported as authorized.
  port.ThenInfo({0x00})  // grade 1 price download, pending since the channel opened
      .ThenInfo(StatusInfo(0xA0))
      .ThenInfo({0x01});
  EXPECT_EQ(NozzleStatus(), 0xE9);

  port.ThenInfo(StatusInfo(0x99, {0x35, 0x28, 0x02}, {0x00, 0x05, 0x00})).ThenInfo({0x01});
  EXPECT_EQ(NozzleStatus(), 0xD1);
  EXPECT_EQ(S().volume[1][1], 5.0);
  EXPECT_DOUBLE_EQ(S().amount[1][1], 228.35);

  port.ThenInfo(StatusInfo(0xD0, {0x70, 0x56, 0x04}, {0x00, 0x10, 0x00})).ThenInfo({0x01});
  EXPECT_EQ(NozzleStatus(), 0xD9);

  port.ThenInfo(StatusInfo(0x20, {0x70, 0x56, 0x04}, {0x00, 0x10, 0x00})).ThenInfo({0x00});
  EXPECT_EQ(NozzleStatus(), 0xC0);
  EXPECT_EQ(S().startGuard[1][1], 0);

  double volume = 0, amount = 0;
  driver.GetTransaction(1, 1, volume, amount);
  EXPECT_EQ(volume, 10.0);
  EXPECT_DOUBLE_EQ(amount, 456.70);

  port.ThenInfo({0x00, 0x10, 0x00, 0x00, 0x00, 0x70, 0x56, 0x04, 0x00, 0x00, 0x00});
  double volumeTotal = 0, amountTotal = 0;
  driver.ReadTotals(1, 1, 1, volumeTotal, amountTotal, 0, 0);
  EXPECT_EQ(volumeTotal, 10.0);
  EXPECT_DOUBLE_EQ(amountTotal, 456.70);

  EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{0xA3, 0xA5, 0xA6, 0xA1, 0xA1, 0xA1, 0xA1, 0xA1,
                                                   0xA1, 0xA1, 0xA2, 0xA1, 0xA9}));
  // The release went to the second address.
  EXPECT_EQ(port.exchanges[10].request[0], 0xC0);
  EXPECT_EQ(driver.GetLinkState(1), kLinkGood);
  EXPECT_TRUE(Logged("START"));
  EXPECT_TRUE(Logged("SET COSTE"));
  EXPECT_TRUE(Logged("GET DATA TRANSACTION"));
}

}  // namespace
}  // namespace quorlan::testing
