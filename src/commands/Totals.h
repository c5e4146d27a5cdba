#pragma once
#include <cstdint>

#include "commands/DriverState.h"

namespace quorlan {

// Totals request 0xA9 for one nozzle. Returns whether the readout arrived
// whole; when not, both totals are 0.
bool ReadTotals(DriverState& s, std::uint32_t c, std::uint32_t d, std::int32_t nozzle,
                double& volumeTotal, double& amountTotal);

}  // namespace quorlan
