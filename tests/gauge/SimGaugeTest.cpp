// SPDX-License-Identifier: Apache-2.0
// The simulated gauge itself: the tanks' geometry, and tanks that drop by
// exactly what the simulated pumps pour, plus the leak and the meter error.

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/gauge/Gauge.h"
#include "sim/gauge/TankCoupling.h"
#include "sim/gauge/TankShape.h"

namespace quorlan::sim {
namespace {

// A horizontal cylinder: the segment under the chord, (θ − sin θ) / 2π of
// the tank, θ = 2·acos(1 − 2h/d).
TEST(SimTankShape, HoldsTheSegmentUnderTheChord) {
  const HorizontalCylinder tank(20000, 2500);
  const struct {
    double height;
    double litres;
  } cases[] = {{0, 0},        {625, 3910.0}, {1250, 10000}, {1875, 16090.0},
               {2500, 20000}, {-5, 0},       {2600, 20000}};
  for (const auto& [height, litres] : cases) {
    EXPECT_NEAR(tank.VolumeAt(height), litres, 0.1) << height;
  }
  for (double litres : {0.0, 1.0, 3910.0, 10000.0, 19999.0, 20000.0}) {
    EXPECT_NEAR(tank.VolumeAt(tank.HeightOf(litres)), litres, 1e-6) << litres;
  }
  EXPECT_THROW(HorizontalCylinder(0, 2500), std::invalid_argument);
}

// Two pumps sell from two tanks for two hours: tank 1 loses its sales and
// its leak, tank 2 its sales and the 0.5 % its pump gives beyond its meter.
TEST(SimGauge, TanksDropByThePumpsDeliveriesPlusTheLeakAndTheMeterError) {
  double wall = 1'796'000'000;
  auto gauge = std::make_shared<Gauge>(
      GaugeOptions{.tanks = {{.number = 1, .volume = 10000, .leak = 0.76, .temperature = 15},
                             {.number = 2, .product = '2', .volume = 8000, .temperature = 15}},
                   .clock = [&wall] { return wall; }});
  TankCoupling coupling(gauge);
  coupling.ConnectGrade(1, 1);
  coupling.Connect(1, 2, 2, 2);
  coupling.SetMeterError(1, 2, 0.5);
  testing::DriverOnSim pumps({.dispensers = 2,
                              .volumePerPoll = 0.75,
                              .clock = {},
                              .autoNozzle = true,
                              .startWithoutPrices = false});
  coupling.Attach(1, *pumps.line);

  const auto fill = [&](std::uint8_t d, std::uint8_t grade, double litres) {
    pumps.driver.SetPrice(1, d, grade, 0, 0, 1.50);
    pumps.driver.SetVolumePreset(1, d, 0, 0, litres);
    pumps.driver.Start(1, d, grade);
    const auto before = pumps.line->Snapshot(d).sales.size();
    for (int poll = 0; poll < 200 && pumps.line->Snapshot(d).sales.size() == before; ++poll) {
      pumps.Poll(d);
    }
  };
  const auto sold = [&](int d) {
    double litres = 0;
    for (const auto& sale : pumps.line->Snapshot(d).sales) litres += double(sale.volume) / 100;
    return litres;
  };
  fill(1, 1, 12.34);
  wall += 3600;
  fill(2, 2, 20.01);
  fill(1, 1, 7.5);
  wall += 3600;

  EXPECT_DOUBLE_EQ(sold(1), 12.34 + 7.5);
  EXPECT_DOUBLE_EQ(sold(2), 20.01);
  const auto tank1 = gauge->State(1);
  const auto tank2 = gauge->State(2);
  EXPECT_NEAR(tank1.leaked, 2 * 0.76, 1e-9);
  EXPECT_NEAR(10000 - tank1.inventory.volume, sold(1) + 2 * 0.76, 1e-9);
  EXPECT_NEAR(8000 - tank2.inventory.volume, sold(2) * 1.005, 1e-9);
  EXPECT_NEAR(tank2.drained, sold(2) * 1.005, 1e-9);
}

// A nozzle's own tank comes before its grade's; a nozzle of neither drains
// nothing; a tank that runs dry stops at empty.
TEST(SimGauge, CouplingFindsTheNozzlesTankAndATankRunsDryAtEmpty) {
  double wall = 1'796'000'000;
  auto gauge = std::make_shared<Gauge>(
      GaugeOptions{.tanks = {{.number = 1, .volume = 5, .temperature = 15},
                             {.number = 7, .volume = 1000, .temperature = 15}},
                   .clock = [&wall] { return wall; }});
  TankCoupling coupling(gauge);
  coupling.ConnectGrade(1, 7);
  coupling.Connect(1, 1, 1, 1);
  EXPECT_THROW(coupling.Connect(1, 1, 2, 3), std::out_of_range);
  EXPECT_THROW(coupling.SetMeterError(1, 1, 100), std::invalid_argument);
  testing::DriverOnSim pumps({.dispensers = 2,
                              .volumePerPoll = 1,
                              .clock = {},
                              .autoNozzle = true,
                              .startWithoutPrices = false});
  coupling.Attach(1, *pumps.line);
  for (std::uint8_t d : {1, 2}) {
    pumps.driver.SetPrice(1, d, 1, 0, 0, 1.50);
    pumps.driver.SetVolumePreset(1, d, 0, 0, 8);
    pumps.driver.Start(1, d, 1);
    for (int poll = 0; poll < 40 && pumps.line->Snapshot(d).sales.empty(); ++poll) pumps.Poll(d);
  }
  EXPECT_DOUBLE_EQ(gauge->State(1).inventory.volume, 0);  // 8 l sold from 5: dry
  EXPECT_DOUBLE_EQ(gauge->State(1).drained, 5);
  EXPECT_DOUBLE_EQ(gauge->State(7).inventory.volume, 992);  // dispenser 2, by its grade
}

TEST(SimGauge, DeliversOnCommandAndRaisesItsOwnAlarms) {
  double wall = 1'796'000'000;
  Gauge gauge({.tanks = {{.number = 1, .capacity = 20000, .volume = 1500, .temperature = 15}},
               .clock = [&wall] { return wall; },
               .deliveryRate = 1000});
  gauge.StartDelivery(1, 18000);
  wall += 60;
  EXPECT_TRUE(gauge.State(1).inventory.delivering);
  EXPECT_NEAR(gauge.State(1).inventory.volume, 2500, 1e-6);
  wall += 3600;
  const auto after = gauge.State(1);
  EXPECT_FALSE(after.inventory.delivering);
  EXPECT_NEAR(after.inventory.volume, 19500, 1e-6);
  EXPECT_NEAR(after.delivered, 18000, 1e-6);
  EXPECT_NEAR(after.inventory.ullage, 500, 1e-6);
  EXPECT_THROW(gauge.StartDelivery(9, 100), std::out_of_range);
  EXPECT_THROW(gauge.SetWater(1, -1), std::invalid_argument);
  EXPECT_THROW(Gauge({.tanks = {{.number = 1}, {.number = 1}}}), std::invalid_argument);
}

// Over a day the fuel warms and cools, its volume with it, while the
// quantity at 15 °C stays what it was.
TEST(SimGauge, TemperatureDriftsWithTheDayAndTheTcVolumeStays) {
  double wall = 1'795'996'800;  // midnight UTC
  Gauge gauge({.tanks = {{.number = 1, .volume = 10000, .temperature = 14, .temperatureSwing = 2}},
               .clock = [&wall] { return wall; }});
  const double tc = gauge.State(1).inventory.tcVolume;
  double coolest = 100, warmest = -100;
  for (int hour = 0; hour < 24; ++hour, wall += 3600) {
    const auto reading = gauge.State(1).inventory;
    coolest = std::min(coolest, reading.temperature);
    warmest = std::max(warmest, reading.temperature);
    EXPECT_NEAR(reading.tcVolume, tc, 1e-9);
  }
  EXPECT_NEAR(warmest, 16, 1e-9);  // at 15:00
  EXPECT_NEAR(coolest, 12, 1e-9);  // at 03:00
}

}  // namespace
}  // namespace quorlan::sim
