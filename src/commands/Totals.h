#pragma once
#include <cstdint>

#include "commands/DriverState.h"

namespace quorlan {

// Totals request 0xA9 for one nozzle.
void ReadTotals(DriverState& s, std::uint32_t c, std::uint32_t d, std::int32_t nozzle,
                double& volumeTotal, double& amountTotal);

}  // namespace quorlan
