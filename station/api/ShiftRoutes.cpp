// SPDX-License-Identifier: Apache-2.0
// The shifts' routes: close the open one, read the closed ones.

#include <limits>
#include <string>

#include "station/api/Routes.h"
#include "station/format/JsonViews.h"
#include "station/format/ShiftCsv.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

constexpr std::string_view kCsv = "text/csv; charset=utf-8";
constexpr int kDefaultShifts = 100;
constexpr int kMaxShifts = 1000;

void ClosedShifts(Station& station, const Call& call, http::Answer& answer) {
  const Parameters parameters = QueryParameters(call.request.query);
  for (const auto& [name, value] : parameters) {
    if (name != "after" && name != "limit") throw Problem{400, "unknown parameter '" + name + "'"};
  }
  const int after = QueryInteger(parameters, "after", 0, 0, std::numeric_limits<int>::max());
  const int limit = QueryInteger(parameters, "limit", kDefaultShifts, 1, kMaxShifts);
  json reports = json::array();
  for (const auto& report : station.Journal().shifts.Closed(after, limit)) {
    reports.push_back(json::parse(report));
  }
  WriteJson(answer, reports);
}

void ClosedShift(Station& station, const Call& call, http::Answer& answer) {
  const auto id = PathNumber<std::int64_t>(call, 1);
  const auto report = station.Journal().shifts.ClosedOne(id);
  if (!report) throw Problem{404, "no closed shift " + std::to_string(id)};
  if (call.request.Header("Accept").find("text/csv") != std::string_view::npos) {
    return WriteBody(answer, 200, kCsv, ShiftCsv(json::parse(*report)));
  }
  WriteBody(answer, 200, kJson, *report);
}

}  // namespace

void AddShiftRoutes(Router& router, Station& station) {
  router.Add({"POST", "/api/v1/shifts/close", "/api/v1/shifts/close", Role::Operate, false,
              [&station](const Call& call, http::Answer& answer) {
                NoBody(call, "the shift close");
                WriteJson(answer, ShiftReportJson(station.Shifts().Close(call.caller.name)));
              }});
  router.Add({"GET", "/api/v1/shifts", "/api/v1/shifts", Role::View, false,
              [&station](const Call& call, http::Answer& answer) {
                ClosedShifts(station, call, answer);
              }});
  router.Add(
      {"GET", R"(/api/v1/shifts/(\d+))", "/api/v1/shifts/{id}", Role::View, false,
       [&station](const Call& call, http::Answer& answer) { ClosedShift(station, call, answer); }});
}

}  // namespace quorlan::station
