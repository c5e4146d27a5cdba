#pragma once
#include <cstdint>

#include "commands/DriverState.h"

namespace quorlan {

// Stores the price and downloads grades 1..4 to the second address (0xA3).
void SetPrice(DriverState& s, std::uint32_t c, std::uint32_t d, std::uint32_t g, double price);
// Downloads the stored prices of grades 1..4 to the second address (0xA3).
void DownloadPriceTable(DriverState& s, std::uint32_t c, std::uint32_t d);
// Grade 1 price to the dispenser's own address (0xA6); clears PriceDirty.
// Returns false, with nothing sent, when that price may not be used.
bool SendPrices(DriverState& s, std::int64_t c, std::int64_t d);

}  // namespace quorlan
