// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the gauge reported, in metric units (litres, millimetres, degrees
// Celsius) once Units.h has converted a console set to US units.

#include <optional>
#include <vector>

#include "gauge/Fields.h"

namespace quorlan::gauge {

struct TankInventory {
  int tank = 0;
  char product = ' ';  // the console's product code character
  bool delivering = false;
  bool leakTest = false;
  bool invalidHeight = false;
  double volume = 0;                    // litres
  double tcVolume = 0;                  // litres at 15 °C
  double ullage = 0;                    // litres
  double height = 0;                    // mm
  double water = 0;                     // mm
  double temperature = 0;               // °C
  std::optional<double> waterVolume{};  // litres; a display report has none
};

struct Inventory {
  std::optional<GaugeTime> time{};  // a display report's is not read
  std::vector<TankInventory> tanks{};
};

// A tank at one end of a delivery.
struct DeliveryEnd {
  double volume = 0;
  double tcVolume = 0;
  double water = 0;
  double temperature = 0;
  std::optional<double> height{};  // older consoles report none
};

struct Delivery {
  int tank = 0;
  char product = ' ';
  GaugeTime started{};
  GaugeTime ended{};
  DeliveryEnd start{};
  DeliveryEnd end{};
};

struct TankAlarms {
  int tank = 0;
  std::vector<int> codes{};  // gauge::alarms
};

struct AlarmReport {
  GaugeTime time{};
  std::vector<TankAlarms> tanks{};
};

struct DeliveryReport {
  GaugeTime time{};
  std::vector<Delivery> deliveries{};
};

}  // namespace quorlan::gauge
