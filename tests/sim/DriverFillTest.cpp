// Whole fills through the driver on the in-process line.

#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace quorlan::sim::testing {
namespace {

// A line whose automatic nozzle pours one litre per status poll.
LineOptions PollDrivenLine() {
  return {.dispensers = 2, .volumePerPoll = 1.0, .clock = {}, .autoNozzle = true};
}

// Polls until the dispenser is back to idle after its release.
Bytes PollToIdle(DriverOnSim& sim, std::uint8_t d = 1) {
  Bytes codes;
  for (int i = 0; i < 40; ++i) {
    codes.push_back(sim.Poll(d));
    if (codes.back() == 0xE0 && codes.size() > 1 && codes[codes.size() - 2] == 0xC0) break;
  }
  return codes;
}

TEST(DriverFill, VolumePresetFillsToTheLimitAndReleases) {
  DriverOnSim sim(PollDrivenLine());
  EXPECT_EQ(sim.port.Configures(), (std::vector<ConfigureCall>{{1, 3, 9600}}));
  sim.driver.SetPrice(1, 1, 1, 0, 0, 45.67);
  EXPECT_EQ(sim.Poll(), 0xE0);  // grade 1 price downloaded first; idle, nozzles hung
  sim.driver.SetVolumePreset(1, 1, 0, 0, 3.5);
  sim.driver.Start(1, 1, 1);

  const auto codes = PollToIdle(sim);
  // The start guard shows the waiting code while the status says idle.
  EXPECT_EQ(codes, (Bytes{0xE8, 0xD1, 0xD1, 0xD1, 0xD9, 0xC0, 0xE0}));
  EXPECT_EQ(sim.line->Count(Request::Release), 1u);

  double volume = 0, amount = 0;
  sim.driver.GetTransaction(1, 1, volume, amount);
  EXPECT_DOUBLE_EQ(volume, 3.5);
  EXPECT_DOUBLE_EQ(amount, 159.85);  // 3.5 × 45.67 = 159.845, shown rounded up
  double volumeTotal = 0, amountTotal = 0;
  sim.driver.ReadTotals(1, 1, 1, volumeTotal, amountTotal, 0, 0);
  EXPECT_DOUBLE_EQ(volumeTotal, 3.5);
  EXPECT_DOUBLE_EQ(amountTotal, 159.85);
  EXPECT_EQ(sim.line->Snapshot(1).state, DispenserState::Idle);
}

TEST(DriverFill, MoneyPresetStopsAtTheAmountAndTotalsAddUp) {
  DriverOnSim sim(PollDrivenLine(), kFlagAmountFromVolume);
  sim.driver.SetPrice(1, 2, 1, 0, 0, 45.67);
  sim.line->SetTotals(2, 1, {.volume = 100000, .amount = 2500000});
  for (int fill = 0; fill < 2; ++fill) {
    sim.driver.SetAmountPreset(1, 2, 1, 0, 100.0);
    sim.driver.Start(1, 2, 1);
    PollToIdle(sim, 2);
  }
  // 100.00 buys 2.19 l; the driver snaps its own 100.02 to the preset.
  double volume = 0, amount = 0;
  sim.driver.GetTransaction(1, 2, volume, amount);
  EXPECT_DOUBLE_EQ(volume, 2.19);
  EXPECT_DOUBLE_EQ(amount, 100.0);
  double volumeTotal = 0, amountTotal = 0;
  sim.driver.ReadTotals(1, 2, 1, volumeTotal, amountTotal, 0, 0);
  EXPECT_DOUBLE_EQ(volumeTotal, 1000.0 + 4.38);
  EXPECT_DOUBLE_EQ(amountTotal, 25000.0 + 200.0);
}

TEST(DriverFill, PowerUpWithoutPricesAsksForThemAndGoesIdle) {
  DriverOnSim sim({.dispensers = 1, .clock = {}});
  EXPECT_EQ(sim.driver.PollStatus(1, 1), 0xC0);  // 0x2F: the driver sends the grade 1 price
  EXPECT_EQ(sim.line->Snapshot(1).state, DispenserState::Idle);
  EXPECT_EQ(sim.line->Snapshot(1).prices[0], 1111);
}

TEST(DriverFill, StopMidFillThenHangFinishesTheTransaction) {
  DriverOnSim sim({.dispensers = 1, .flowRate = 1.0, .clock = {}, .startWithoutPrices = false});
  sim.driver.Authorize(1, 1, 2, 0);
  sim.line->Lift(1, 2);
  sim.line->Advance(1.25);
  EXPECT_EQ(sim.Poll(), 0xD2);
  sim.driver.Stop(1, 1, 0);
  EXPECT_EQ(sim.Poll(), 0xDA);
  sim.line->Hang(1);
  EXPECT_EQ(sim.Poll(), 0xC0);
  double volume = 0, amount = 0;
  sim.driver.GetTransaction(1, 1, volume, amount);
  EXPECT_DOUBLE_EQ(volume, 1.25);
  EXPECT_DOUBLE_EQ(amount, 27.78);  // 1.25 × 22.22 = 27.775 at nozzle 2's price
}

TEST(DriverFill, TheConversationIsTheDriversBytesAndTheModelsReplies) {
  DriverOnSim sim(StillLine(2));
  std::vector<std::pair<TraceDirection, Bytes>> seen;
  sim.port.SetTrace([&](TraceDirection direction, int channel, std::span<const std::uint8_t> b) {
    EXPECT_EQ(channel, 1);
    seen.emplace_back(direction, Bytes(b.begin(), b.end()));
  });
  sim.driver.SetVolumePreset(1, 2, 0, 0, 10.5);
  sim.driver.SetAmountPreset(1, 2, 1, 0, 1234.56);  // replaces the volume limit with 999.00
  sim.driver.SetPrice(1, 2, 1, 0, 0, 45.67);
  sim.driver.Start(1, 2, 1);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[2].second,
            Pairs({0xF1, 0xA5, 0x01, 0x67, 0x45, 0x56, 0x34, 0x12, 0x00, 0x99, 0x09}));
  EXPECT_EQ(seen[3], std::make_pair(TraceDirection::Reply, Pairs({0xF1, 0xA5})));
  const auto authorization = sim.line->Snapshot(2).authorization;
  EXPECT_EQ(authorization->moneyLimit, 123456);
  EXPECT_EQ(authorization->volumeLimit, 99900);
}

}  // namespace
}  // namespace quorlan::sim::testing
