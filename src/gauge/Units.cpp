// SPDX-License-Identifier: Apache-2.0
#include "gauge/Units.h"

namespace quorlan::gauge {
namespace {

void Convert(DeliveryEnd& end, Units units) {
  end.volume = LitresOf(end.volume, units);
  end.tcVolume = LitresOf(end.tcVolume, units);
  end.water = MillimetresOf(end.water, units);
  end.temperature = CelsiusOf(end.temperature, units);
  if (end.height) end.height = MillimetresOf(*end.height, units);
}

}  // namespace

double LitresOf(double value, Units units) {
  return units == Units::Us ? value * kLitresPerUsGallon : value;
}

double MillimetresOf(double value, Units units) {
  return units == Units::Us ? value * kMillimetresPerInch : value;
}

double CelsiusOf(double value, Units units) {
  return units == Units::Us ? (value - 32) * 5 / 9 : value;
}

void ToMetric(Inventory& inventory, Units units) {
  for (auto& tank : inventory.tanks) {
    tank.volume = LitresOf(tank.volume, units);
    tank.tcVolume = LitresOf(tank.tcVolume, units);
    tank.ullage = LitresOf(tank.ullage, units);
    tank.height = MillimetresOf(tank.height, units);
    tank.water = MillimetresOf(tank.water, units);
    tank.temperature = CelsiusOf(tank.temperature, units);
    if (tank.waterVolume) tank.waterVolume = LitresOf(*tank.waterVolume, units);
  }
}

void ToMetric(DeliveryReport& report, Units units) {
  for (auto& delivery : report.deliveries) {
    Convert(delivery.start, units);
    Convert(delivery.end, units);
  }
}

}  // namespace quorlan::gauge
