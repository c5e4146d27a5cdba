// SPDX-License-Identifier: Apache-2.0
#pragma once
// A console reports in the units it was set up with; everything past the
// client is metric.

#include <cstdint>

#include "gauge/Readings.h"

namespace quorlan::gauge {

enum class Units : std::uint8_t { Metric, Us };

inline constexpr double kLitresPerUsGallon = 3.785411784;
inline constexpr double kMillimetresPerInch = 25.4;

double LitresOf(double value, Units units);
double MillimetresOf(double value, Units units);
double CelsiusOf(double value, Units units);

void ToMetric(Inventory& inventory, Units units);
void ToMetric(DeliveryReport& report, Units units);

}  // namespace quorlan::gauge
