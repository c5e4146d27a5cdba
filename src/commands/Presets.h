#pragma once
#include <cstdint>

#include "commands/DriverState.h"

namespace quorlan {

// The fixed value a preset operation gives the other limit.
inline constexpr double kUnlimitedAmount = 9999.0;
inline constexpr double kUnlimitedVolume = 999.0;

void SetVolumePreset(DriverState& s, std::uint32_t c, std::uint32_t d, double volume);
void SetAmountPreset(DriverState& s, std::uint32_t c, std::uint32_t d, std::uint32_t g,
                     double amount);
// Plain form 0xA4 or preset form 0xA5.
void Authorize(DriverState& s, std::uint32_t c, std::uint32_t d, std::uint32_t g, bool presetForm);

}  // namespace quorlan
