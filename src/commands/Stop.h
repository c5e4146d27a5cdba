#pragma once
#include <cstdint>

#include "commands/DriverState.h"

namespace quorlan {

// Stop request 0xA3 to the dispenser's own address.
void Stop(DriverState& s, std::uint32_t c, std::uint32_t d);

}  // namespace quorlan
