#pragma once
// The driver's state codes in the words of the public API.

#include <cstdint>
#include <optional>

#include "quorlan/Driver.h"

namespace quorlan {

// `code` is the driver's state code, `status` the reply's status byte when a
// whole reply came.
DispenserState StateOf(std::uint16_t code, std::optional<std::uint8_t> status);
// The lifted nozzle a state code carries; 0 for codes that carry none.
Nozzle NozzleOf(std::uint16_t code);

}  // namespace quorlan
