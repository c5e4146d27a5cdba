// SPDX-License-Identifier: Apache-2.0
// One simulated gauge shared the way a service shares it: a poller reading
// every report, pumps pouring through the coupling, and a control thread
// delivering and changing the water, all at once. No fuel is made or lost
// on the way: every tank holds its start, less what the pumps and the leak
// took, plus what was delivered.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SimTestSupport.h"
#include "gauge/GaugeClient.h"
#include "sim/gauge/SimGaugeLink.h"
#include "sim/gauge/TankCoupling.h"

namespace quorlan::sim {
namespace {

TEST(SharedGauge, KeepsEveryLitreWhilePolledPouredAndDeliveredAtOnce) {
  std::atomic<double> wall{1'796'000'000};
  GaugeOptions options;
  for (auto& tank : options.tanks) {
    tank.leak = 3.6;
    tank.temperature = 15;  // one temperature: litres add up as they are
    tank.temperatureSwing = 0;
  }
  options.clock = [&wall] { return wall.load(); };
  auto gauge = std::make_shared<Gauge>(options);
  TankCoupling coupling(gauge);
  for (int grade = 1; grade <= 4; ++grade) coupling.ConnectGrade(grade, grade);
  coupling.SetMeterError(1, 1, 0.3);
  testing::DriverOnSim pumps({.dispensers = 4,
                              .volumePerPoll = 0.25,
                              .clock = {},
                              .autoNozzle = true,
                              .startWithoutPrices = false});
  coupling.Attach(1, *pumps.line);

  std::atomic<bool> done{false};
  std::atomic<int> readings{0};
  std::thread poller([&] {
    gauge::GaugeClient client(std::make_unique<SimGaugeLink>(gauge), {});
    while (!done) {
      if (!gauge::FailureOf(client.ReadInventory())) ++readings;
      client.ReadDeliveries();
      client.ReadAlarms();
    }
  });
  std::thread selling([&] {
    for (std::uint8_t d = 1; d <= 4; ++d) pumps.driver.SetPrice(1, d, d, 0, 0, 1.50);
    for (int round = 0; round < 40; ++round) {
      const auto d = std::uint8_t(round % 4 + 1);
      pumps.driver.SetVolumePreset(1, d, 0, 0, 1.5 + round % 3);
      pumps.driver.Start(1, d, d);
      for (int poll = 0; poll < 20; ++poll) pumps.Poll(d);
    }
  });
  for (int step = 0; step < 400; ++step) {
    const int tank = step % 4 + 1;
    if (step % 50 == 0) gauge->StartDelivery(tank, 100);
    if (step % 30 == 0) gauge->SetWater(tank, step % 60);
    wall = wall + 1;
  }
  selling.join();
  for (int spin = 0; spin < 10'000'000 && readings < 3; ++spin) std::this_thread::yield();
  EXPECT_GE(readings.load(), 3);
  done = true;
  poller.join();
  wall = wall + 3600;  // every delivery done

  for (int tank = 1; tank <= 4; ++tank) {
    const auto state = gauge->State(tank);
    EXPECT_NEAR(state.inventory.volume, 12000 - state.drained - state.leaked + state.delivered,
                1e-6)
        << tank;
    double sold = 0;
    for (const auto& sale : pumps.line->Snapshot(tank).sales) sold += double(sale.volume) / 100;
    EXPECT_GT(sold, 0) << tank;
    EXPECT_NEAR(state.drained, sold * (tank == 1 ? 1.003 : 1), 1e-9) << tank;
    EXPECT_NEAR(state.delivered, tank == 1 || tank == 3 ? 400 : 0, 1e-6) << tank;
    EXPECT_NEAR(state.leaked, 3.6 * (400 + 3600) / 3600, 1e-6) << tank;
  }
}

}  // namespace
}  // namespace quorlan::sim
