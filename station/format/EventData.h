// SPDX-License-Identifier: Apache-2.0
#pragma once
// The events of the stream, named once, and the text of their data (one line
// of JSON each, made in JsonViews.cpp with the API's other objects).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/model/DispenserView.h"
#include "station/model/Records.h"

namespace quorlan::station {

inline constexpr char kDispenserEvent[] = "dispenser";  // a view changed
inline constexpr char kLineEvent[] = "line";            // a line went down or came back
inline constexpr char kFillEvent[] = "fill";            // a fill completed
inline constexpr char kPricesEvent[] = "prices";        // the book changed
inline constexpr char kShiftEvent[] = "shift";          // a shift closed: its report
inline constexpr char kAlarmEvent[] = "alarm";          // something a person must look at

// The kinds of alarm this service raises.
inline constexpr char kMismatchAlarm[] = "mismatch";  // a fill's amount is not price × volume
inline constexpr char kReadoutAlarm[] = "readout";    // a fill journaled with the last figures seen
inline constexpr char kDatabaseAlarm[] = "database";  // the journal cannot be written
inline constexpr char kDiscrepancyAlarm[] = "discrepancy";  // a shift's nozzle difference
inline constexpr char kDriveOffAlarm[] = "drive-off";       // a fill unpaid too long

std::string DispenserEventData(const DispenserView& view);
std::string FillEventData(const FillRecord& fill);
std::string PricesEventData(const std::vector<PriceEntry>& entries);
// `reason` is empty while the line is up.
std::string LineEventData(int channel, bool up, const std::string& reason);
// `channel`, `dispenser` and `fillId` are null when 0 or missing.
std::string AlarmEventData(const std::string& kind, int channel, int dispenser,
                           std::optional<std::int64_t> fillId, const std::string& detail);

}  // namespace quorlan::station
