#pragma once
// The JSON objects of the API: a dispenser, a fill, a price book entry.

#include <nlohmann/json.hpp>

#include "station/DispenserView.h"
#include "station/Store.h"

namespace quorlan::station {

nlohmann::json LimitJson(const FillLimit& limit);
nlohmann::json DispenserJson(const DispenserView& view);
nlohmann::json FillJson(const FillRecord& fill);
nlohmann::json PriceJson(const PriceEntry& entry);

}  // namespace quorlan::station
