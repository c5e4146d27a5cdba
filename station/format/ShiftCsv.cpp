// SPDX-License-Identifier: Apache-2.0
#include "station/format/ShiftCsv.h"

#include <fmt/format.h>

#include <array>

namespace quorlan::station {

namespace {

using nlohmann::json;

// The report's own fields repeated on every row, then the nozzle's.
constexpr std::array<std::string_view, 5> kShiftFields{"id", "opened_at", "closed_at", "closed_by",
                                                       "currency"};
constexpr std::array<std::string_view, 4> kNozzleFields{"channel", "dispenser", "nozzle", "grade"};
constexpr std::array<std::string_view, 4> kTotalsFields{"totals_open", "totals_close", "journal",
                                                        "difference"};
constexpr std::array<std::string_view, 2> kFigures{"volume", "amount"};

// A figure with two decimals; an integer as it is; text as a cell.
std::string Cell(const json& value) {
  if (value.is_null()) return "";
  if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
  if (value.is_number()) return fmt::format("{:.2f}", value.get<double>());
  if (value.is_string()) return CsvCell(value.get<std::string>());
  return CsvCell(value.dump());
}

std::string Figure(const json& value) {
  if (value.is_null()) return "";
  return fmt::format("{:.2f}", value.get<double>());
}

const json& Field(const json& object, std::string_view name) {
  static const json kNull;
  if (!object.is_object()) return kNull;
  const auto at = object.find(std::string(name));
  return at == object.end() ? kNull : *at;
}

}  // namespace

std::string CsvCell(std::string_view text) {
  std::string cell(text);
  // A leading apostrophe keeps formula-like text as text.
  if (!cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos) {
    cell.insert(cell.begin(), '\'');
  }
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (const char c : cell) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string ShiftCsv(const json& report) {
  std::vector<std::string> header;
  for (const auto name : kShiftFields) header.emplace_back(name);
  for (const auto name : kNozzleFields) header.emplace_back(name);
  for (const auto totals : kTotalsFields) {
    for (const auto figure : kFigures) header.push_back(fmt::format("{}.{}", totals, figure));
  }
  std::string csv = fmt::format("{}\r\n", fmt::join(header, ","));
  for (const json& nozzle : Field(report, "nozzles")) {
    std::vector<std::string> row;
    for (const auto name : kShiftFields) row.push_back(Cell(Field(report, name)));
    for (const auto name : kNozzleFields) row.push_back(Cell(Field(nozzle, name)));
    for (const auto totals : kTotalsFields) {
      for (const auto figure : kFigures)
        row.push_back(Figure(Field(Field(nozzle, totals), figure)));
    }
    csv += fmt::format("{}\r\n", fmt::join(row, ","));
  }
  return csv;
}

}  // namespace quorlan::station
