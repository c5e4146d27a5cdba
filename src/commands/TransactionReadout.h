#pragma once
#include <cstdint>

#include "commands/DriverState.h"

namespace quorlan {

// Data request 0xA1; hands out what the last poll stored.
double ReadTransaction(DriverState& s, std::uint32_t c, std::uint32_t d, double& amount);

}  // namespace quorlan
