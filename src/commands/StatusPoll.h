#pragma once
#include <cstdint>

#include "commands/DriverState.h"

namespace quorlan {

// Status request 0xA1: stores volume and amount, returns the state code
// (0 when the link state is not good after the exchange).
std::uint16_t PollStatus(DriverState& s, std::uint32_t c, std::uint32_t d);

}  // namespace quorlan
