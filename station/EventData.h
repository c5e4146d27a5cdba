// SPDX-License-Identifier: Apache-2.0
#pragma once
// The events of the stream, named once, and the text of their data (one line
// of JSON each, made in JsonViews.cpp with the API's other objects).

#include <string>
#include <vector>

#include "station/DispenserView.h"
#include "station/Records.h"

namespace quorlan::station {

inline constexpr char kDispenserEvent[] = "dispenser";  // a view changed
inline constexpr char kLineEvent[] = "line";            // a line went down or came back
inline constexpr char kFillEvent[] = "fill";            // a fill completed
inline constexpr char kPricesEvent[] = "prices";        // the book changed

std::string DispenserEventData(const DispenserView& view);
std::string FillEventData(const FillRecord& fill);
std::string PricesEventData(const std::vector<PriceEntry>& entries);
// `reason` is empty while the line is up.
std::string LineEventData(int channel, bool up, const std::string& reason);

}  // namespace quorlan::station
