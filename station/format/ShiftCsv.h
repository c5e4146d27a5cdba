// SPDX-License-Identifier: Apache-2.0
#pragma once
// A shift report as CSV for a spreadsheet: one row per nozzle, the header
// row the report's JSON field names (nested ones joined with '.').

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace quorlan::station {

// From the report's JSON, as stored and served: a stored report needs no
// other form to be exported.
std::string ShiftCsv(const nlohmann::json& report);

// One cell: text a spreadsheet would run as a formula is made plain text,
// and a cell with a separator, a quote or a line break is quoted.
std::string CsvCell(std::string_view text);

}  // namespace quorlan::station
