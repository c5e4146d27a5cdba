// SPDX-License-Identifier: Apache-2.0
// The fills' routes: the journal's query, one fill, and settlement.

#include <optional>
#include <string>
#include <variant>

#include "station/api/Routes.h"
#include "station/base/Instant.h"
#include "station/format/JsonViews.h"
#include "station/model/FillQuery.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

void Fills(Station& station, const Call& call, http::Answer& answer) {
  const auto parsed = ParseFillQuery(QueryParameters(call.request.query));
  if (const auto* error = std::get_if<FillQueryError>(&parsed)) throw Problem{400, error->detail};
  json fills = json::array();
  const Instant now = Now();
  for (const auto& fill : station.Journal().fills.Find(std::get<FillQuery>(parsed))) {
    fills.push_back(FillJson(fill, now));
  }
  WriteJson(answer, fills);
}

// The clear's optional payment reference.
std::optional<std::string> Reference(const Call& call) {
  if (call.request.body.empty()) return std::nullopt;
  const json body = ParseBody(call);
  OnlyKeys(body, {"reference"}, "the clear");
  if (!body.contains("reference")) return std::nullopt;
  const json& value = body.at("reference");
  if (!value.is_string() || !ValidReference(value.get<std::string>())) {
    throw Problem{400, "'reference' must be text of 1..64 characters"};
  }
  return value.get<std::string>();
}

void Settle(Station& station, const Call& call, http::Answer& answer) {
  const auto id = PathNumber<std::int64_t>(call, 1);
  const std::string& action = call.captures.at(1);
  Settled settled;
  if (action == "clear") {
    settled = station.Till().Clear(id, call.caller.name, Reference(call));
  } else {
    NoBody(call, "the " + action);
    settled = action == "lock"
                  ? station.Till().Lock(id, call.caller.name)
                  : station.Till().Unlock(id, call.caller.name, call.caller.role == Role::Admin);
  }
  if (!settled.fill) throw Problem{404, "no fill " + std::to_string(id)};
  if (settled.refusal) throw Problem{409, settled.detail};
  WriteJson(answer, FillJson(*settled.fill));
}

}  // namespace

void AddFillRoutes(Router& router, Station& station) {
  router.Add(
      {"GET", "/api/v1/fills", "/api/v1/fills", Role::View, false,
       [&station](const Call& call, http::Answer& answer) { Fills(station, call, answer); }});
  router.Add({"GET", R"(/api/v1/fills/(\d+))", "/api/v1/fills/{id}", Role::View, false,
              [&station](const Call& call, http::Answer& answer) {
                const auto fill = station.Journal().fills.Shown(PathNumber<std::int64_t>(call, 1));
                if (!fill) throw Problem{404, "no fill " + call.captures.at(0)};
                WriteJson(answer, FillJson(*fill));
              }});
  for (const std::string action : {"lock", "unlock", "clear"}) {
    router.Add({"POST", R"(/api/v1/fills/(\d+)/()" + action + ")", "/api/v1/fills/{id}/" + action,
                Role::Operate, false, [&station](const Call& call, http::Answer& answer) {
                  Settle(station, call, answer);
                }});
  }
}

}  // namespace quorlan::station
