#include <gtest/gtest.h>

#include "base/Win1251.h"
#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class DriverTableTest : public DriverFixture {};

TEST_F(DriverTableTest, StartsWithEveryTableAtItsInitialValue) {
  for (int c = 1; c <= kChannels; ++c) {
    EXPECT_EQ(driver.GetLinkState(c), 1);
    for (int d = 1; d <= kDispensers; ++d) {
      for (int g = 1; g <= kGrades; ++g) ASSERT_EQ(S().prices[c][d][g], 1111 * g);
      ASSERT_EQ(S().nozzleState[c][d], 0xE1);
      ASSERT_EQ(S().currentGrade[c][d], 1);
      ASSERT_EQ(S().priceDirty[c][d], 1);
      ASSERT_EQ(S().startGuard[c][d], 0);
      ASSERT_EQ(S().nozzleMode[c][d], 0);
      ASSERT_EQ(S().volume[c][d], 0.0);
      ASSERT_EQ(S().presetAmount[c][d], 0.0);
    }
  }
  // Row 0 belongs to no line.
  EXPECT_EQ(S().nozzleState[0][1], 0);
  EXPECT_EQ(S().priceDirty[0][32], 0);
  EXPECT_EQ(S().prices[7][9][5], 5555);
}

TEST(DriverFlags, OnlyBit7OfTheLowByteSetsAmountFromVolume) {
  FakeDispatcher port;
  MemoryLogPlatform platform;
  Logger logger(platform);
  for (auto [flags, expected] : {std::pair{0x80u, true},
                                 {0xFFu, true},
                                 {0x81u, true},
                                 {0x7Fu, false},
                                 {0x00u, false},
                                 {0x100u, false},
                                 {0xFFFFFF7Fu, false}}) {
    EXPECT_EQ(TVM30(port, flags, logger).AmountFromVolume(), expected) << flags;
  }
}

TEST_F(DriverTableTest, DescribesItselfInTwentyFourWindows1251Characters) {
  const std::string description = driver.GetDescription();
  EXPECT_EQ(description.size(), 24u);
  EXPECT_EQ(description[5], '#');
  EXPECT_EQ(description.substr(0, 6), "v2.50#");
  EXPECT_EQ(description.substr(6, 1), "\xCF");  // П
  EXPECT_EQ(Win1251ToUtf8(description), "v2.50#Протокол к Quorlan");
}

TEST_F(DriverTableTest, LinkStateOfChannelsOutsideTheTableIsIgnoredAndReadAsZero) {
  driver.SetLinkState(5, 7);
  EXPECT_EQ(driver.GetLinkState(5), 7);
  for (std::uint32_t c : {0u, 33u, 255u, 256u, 0xFFFFFFFFu}) {
    driver.SetLinkState(c, 9);
    EXPECT_EQ(driver.GetLinkState(c), 0) << c;
  }
  for (int c = 1; c <= kChannels; ++c) EXPECT_EQ(driver.GetLinkState(c), c == 5 ? 7 : 1);
}

TEST_F(DriverTableTest, AnswersTheFiveKnownOptions) {
  const std::pair<std::uint32_t, std::int32_t> known[] = {{1, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 0}};
  for (auto [option, expected] : known) {
    std::int32_t value = -5;
    EXPECT_TRUE(driver.QueryOption(option, value));
    EXPECT_EQ(value, expected);
  }
  for (std::uint32_t option : {0u, 6u, 255u, 0x80000001u}) {
    std::int32_t value = -5;
    EXPECT_FALSE(driver.QueryOption(option, value));
    EXPECT_EQ(value, -5);
  }
}

TEST_F(DriverTableTest, EntryZeroRaisesTheAbstractErrorAndTheNoOperationsDoNothing) {
  EXPECT_THROW(driver.NotImplemented(), EAbstractError);
  driver.Reserved5(1);
  driver.Reserved8(1, 2, 3, 4, 5, 6, 7);
  driver.Reserved12(1, 2, 3);
  driver.Reserved17(1, 2, 3);
  driver.Reserved18(1, 2, 3, 4);
  driver.Reserved23(1, 2, 3, 4);
  EXPECT_TRUE(port.exchanges.empty());
  EXPECT_TRUE(platform.files.empty());
}

// Forwarding entries call their targets through the table.
class RecordingDriver : public TVM30 {
 public:
  using TVM30::TVM30;
  void Authorize(std::uint32_t c, std::uint32_t d, std::uint32_t g, std::uint8_t flag) override {
    calls.push_back("Authorize " + std::to_string(c) + " " + std::to_string(d) + " " +
                    std::to_string(g) + " " + std::to_string(flag));
  }
  double ReadTransaction(std::uint32_t, std::uint32_t, double& amount) override {
    amount = 2.5;
    return 7.25;
  }
  std::int32_t Stop(std::uint32_t c, std::uint32_t d, std::uint32_t x) override {
    calls.push_back("Stop " + std::to_string(c) + " " + std::to_string(d) + " " +
                    std::to_string(x));
    return 0;
  }
  std::uint16_t PollStatus(std::uint32_t, std::uint32_t) override { return 0xEB; }
  std::vector<std::string> calls;
};

TEST(ForwardingEntries, HonourAnOverrideOfTheirTarget) {
  FakeDispatcher port;
  MemoryLogPlatform platform;
  Logger logger(platform);
  RecordingDriver driver(port, 0, logger);
  driver.Start(1, 2, 3);
  driver.StopNozzle(4, 5, 6, 0x1234);
  double volume = 0, amount = 0;
  driver.GetTransaction(1, 1, volume, amount);
  EXPECT_EQ(volume, 7.25);
  EXPECT_EQ(amount, 2.5);
  NozzleStatusRecord record;
  record.bytes.fill(0x55);
  driver.GetNozzleStatus(1, 1, 0, record);
  EXPECT_EQ(record.bytes[0], 0xEB);
  EXPECT_EQ(record.bytes[14], 3);
  EXPECT_EQ(driver.calls, (std::vector<std::string>{"Authorize 1 2 3 1", "Stop 4 5 52"}));
}

TEST(Factories, CreateIndependentDriversOnTheHostsDispatcher) {
  FakeDispatcher port;
  TVM30* first = GetDI30(0x80, 0x1234, &port);
  TVM30* second = GetDriver25(0, 0x5678, &port, 1, 2, 3, 4, 5);
  EXPECT_TRUE(first->AmountFromVolume());
  EXPECT_FALSE(second->AmountFromVolume());
  EXPECT_NE(first, second);
  EXPECT_EQ(ApplicationWindow(), 0x5678u);
  EXPECT_FALSE(DefaultLogger().FileName().empty());
  EXPECT_EQ(DefaultLogger().FileName().substr(DefaultLogger().FileName().size() - 4), ".log");
  delete first;
  delete second;
}

}  // namespace
}  // namespace quorlan::testing
