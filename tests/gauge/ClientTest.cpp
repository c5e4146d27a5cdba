// SPDX-License-Identifier: Apache-2.0
// The client over the simulated gauge in this process: every fault a field
// gauge shows ends as the right failure and never as a reading, a bad reply
// is asked again, and a gauge that goes away is retried with back-off.

#include <gtest/gtest.h>

#include "gauge/GaugeClient.h"
#include "sim/gauge/SimGaugeLink.h"

namespace quorlan::gauge {
namespace {

using sim::GaugeFault;
using sim::GaugeFaultKind;

struct ClientOnSim {
  explicit ClientOnSim(ClientOptions options = {}, sim::GaugeOptions gaugeOptions = {}) {
    gaugeOptions.clock = [this] { return wallSeconds; };
    gauge = std::make_shared<sim::Gauge>(gaugeOptions);
    auto owned = std::make_unique<sim::SimGaugeLink>(gauge);
    link = owned.get();
    options.now = [this] { return steady; };
    client = std::make_unique<GaugeClient>(std::move(owned), options);
  }
  double wallSeconds = 1'796'000'000;  // 2026-11-30
  std::chrono::steady_clock::time_point steady{};
  std::shared_ptr<sim::Gauge> gauge;
  sim::SimGaugeLink* link = nullptr;
  std::unique_ptr<GaugeClient> client;
};

TEST(GaugeClient, ReadsEveryReportOfTheSimulatedGauge) {
  ClientOnSim sim;
  sim.gauge->StartDelivery(2, 3000);
  sim.wallSeconds += 600;  // the tanker is done in under 4 minutes
  sim.gauge->SetWater(3, 60);

  const auto inventory = sim.client->ReadInventory();
  ASSERT_FALSE(FailureOf(inventory));
  const auto& tanks = std::get<Inventory>(inventory).tanks;
  ASSERT_EQ(tanks.size(), 4u);
  EXPECT_NEAR(tanks[1].volume - tanks[0].volume, 3000, 0.01);
  EXPECT_EQ(sim.client->State(), LinkState::Ok);

  const auto deliveries = sim.client->ReadDeliveries(2);
  ASSERT_FALSE(FailureOf(deliveries));
  const auto& delivered = std::get<DeliveryReport>(deliveries).deliveries;
  ASSERT_EQ(delivered.size(), 1u);
  // The fuel's temperature moved a little in the ten minutes.
  EXPECT_NEAR(delivered[0].end.volume - delivered[0].start.volume, 3000, 1);

  const auto alarms = sim.client->ReadAlarms();
  ASSERT_FALSE(FailureOf(alarms));
  EXPECT_EQ(std::get<AlarmReport>(alarms).tanks[2].codes, (std::vector<int>{alarms::kHighWater}));
}

// A fault that strikes every reply: the outcome of each, and how often the
// command was sent (a bad reply is asked again once).
TEST(GaugeClient, EndsEveryFieldFaultAsTheRightFailure) {
  const struct {
    GaugeFaultKind kind;
    LinkState state;
    std::string detail;
    std::uint64_t commands;
  } cases[] = {
      {GaugeFaultKind::NoReply, LinkState::NoReply, "no reply to i20100", 1},
      {GaugeFaultKind::LateReply, LinkState::NoReply, "no reply to i20100", 1},
      {GaugeFaultKind::WrongChecksum, LinkState::BadReply, "wrong checksum", 2},
      {GaugeFaultKind::CutReply, LinkState::BadReply, "a cut reply", 2},
      {GaugeFaultKind::OtherTank, LinkState::BadReply, "tank 02 out of order", 2},
      {GaugeFaultKind::NotANumber, LinkState::BadReply, "volume is not a number", 2},
  };
  for (const auto& c : cases) {
    ClientOnSim sim;
    sim.gauge->InjectFault(Function::Inventory, {.kind = c.kind, .persistent = true});
    const auto outcome = sim.client->ReadInventory();
    const auto* failure = FailureOf(outcome);
    ASSERT_TRUE(failure) << sim::GaugeFaultName(c.kind);
    EXPECT_EQ(failure->state, c.state) << sim::GaugeFaultName(c.kind);
    EXPECT_EQ(failure->detail, c.detail);
    EXPECT_EQ(sim.gauge->Commands(), c.commands) << sim::GaugeFaultName(c.kind);
    EXPECT_EQ(sim.client->State(), c.state);
    // Cleared, the next poll reads again.
    sim.gauge->ClearFaults();
    EXPECT_FALSE(FailureOf(sim.client->ReadInventory())) << sim::GaugeFaultName(c.kind);
  }
}

TEST(GaugeClient, AsksOnceMoreAfterABadReplyAndTakesTheGoodOne) {
  ClientOnSim sim;
  sim.gauge->InjectFault(Function::Inventory, {.kind = GaugeFaultKind::WrongChecksum});
  EXPECT_FALSE(FailureOf(sim.client->ReadInventory(1)));
  EXPECT_EQ(sim.client->Counts().badReply, 1u);
  EXPECT_EQ(sim.gauge->Commands(), 2u);
}

// A reply that comes late is drained before the next command, never taken
// as the next command's.
TEST(GaugeClient, NeverTakesALateReplyForTheNextCommands) {
  ClientOnSim sim;
  sim.gauge->InjectFault(Function::Alarms, {.kind = GaugeFaultKind::LateReply});
  EXPECT_EQ(FailureOf(sim.client->ReadAlarms())->state, LinkState::NoReply);
  const auto inventory = sim.client->ReadInventory();
  ASSERT_FALSE(FailureOf(inventory)) << FailureOf(inventory)->detail;
}

TEST(GaugeClient, RetriesAGaugeThatWentAwayWithBackOff) {
  ClientOnSim sim(
      {.firstBackoff = std::chrono::seconds(1), .longestBackoff = std::chrono::seconds(4)});
  ASSERT_FALSE(FailureOf(sim.client->ReadInventory()));
  sim.link->SetReachable(false);
  EXPECT_EQ(FailureOf(sim.client->ReadInventory())->state, LinkState::LineDown);
  const auto commands = sim.gauge->Commands();
  // Each failed open waits longer: 1, 2, 4, 4 s; a call in between costs
  // nothing and sends nothing.
  for (int seconds : {1, 2, 4, 4}) {
    EXPECT_EQ(FailureOf(sim.client->ReadInventory())->state, LinkState::LineDown);
    sim.steady += std::chrono::seconds(seconds) - std::chrono::milliseconds(1);
    EXPECT_EQ(FailureOf(sim.client->ReadInventory())->state, LinkState::LineDown);
    sim.steady += std::chrono::milliseconds(1);
  }
  EXPECT_EQ(sim.gauge->Commands(), commands);
  sim.link->SetReachable(true);
  EXPECT_FALSE(FailureOf(sim.client->ReadInventory()));
  EXPECT_EQ(sim.client->State(), LinkState::Ok);
}

TEST(GaugeClient, SendsTheSecurityCodeButNeverShowsIt) {
  sim::GaugeOptions guarded;
  guarded.securityCode = "9z!Q7x";
  ClientOnSim wrong({.securityCode = "000000"}, guarded);
  const auto refused = wrong.client->ReadInventory();
  ASSERT_TRUE(FailureOf(refused));
  EXPECT_EQ(FailureOf(refused)->detail.find("000000"), std::string::npos);
  ClientOnSim right({.securityCode = "9z!Q7x"}, guarded);
  EXPECT_FALSE(FailureOf(right.client->ReadInventory()));
  EXPECT_THROW(
      GaugeClient(std::make_unique<sim::SimGaugeLink>(right.gauge), {.securityCode = "tab\there"}),
      std::invalid_argument);
}

TEST(GaugeClient, ReadsTheDisplayFormatAndUsUnits) {
  sim::GaugeOptions us;
  us.units = Units::Us;
  ClientOnSim sim({.format = Format::Display, .units = Units::Us}, us);
  const auto inventory = sim.client->ReadInventory(1);
  ASSERT_FALSE(FailureOf(inventory)) << FailureOf(inventory)->detail;
  // Printed in whole gallons: back in litres within half a gallon.
  EXPECT_NEAR(std::get<Inventory>(inventory).tanks[0].volume, 12000, kLitresPerUsGallon / 2);
  EXPECT_THROW(sim.client->ReadAlarms(), std::logic_error);
}

}  // namespace
}  // namespace quorlan::gauge
