// SPDX-License-Identifier: Apache-2.0
#pragma once
// A list of prices as PUT /prices and head office's price push give it,
// checked whole before anything is stored: each of channel, dispenser,
// grade and price in range, a dispenser the station has, no price twice.

#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "station/model/Records.h"

namespace quorlan::station {

// What is wrong with the list, in the client's terms.
class PriceListError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

using HasDispenser = std::function<bool(int channel, int dispenser)>;

std::vector<PriceEntry> ReadPriceList(const nlohmann::json& list, const HasDispenser& has);

}  // namespace quorlan::station
