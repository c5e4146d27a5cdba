#pragma once
// Names for the driver's state codes, and the nozzle they carry.

#include <cstdint>
#include <string_view>

namespace quorlan::cli {

// "idle", "authorized", "filling", "stopped", "finished", "no reply" or
// "unknown" for a status byte the driver passed through.
std::string_view StateName(std::uint8_t code);
// The lifted nozzle the code reports (its low three bits for 0xD0..0xEF), or 0.
int NozzleOf(std::uint8_t code);

}  // namespace quorlan::cli
