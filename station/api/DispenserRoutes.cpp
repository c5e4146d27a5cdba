// SPDX-License-Identifier: Apache-2.0
// The dispensers' routes: their views, authorize, stop, totals.

#include <string>

#include "station/api/Routes.h"
#include "station/format/JsonViews.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

const std::string kDispenser = R"(/api/v1/dispensers/(\d+)/(\d+))";

void FindDispenser(Station& station, int channel, int dispenser) {
  if (!station.Has(channel, dispenser)) {
    throw Problem{404, "no dispenser " + std::to_string(channel) + "/" + std::to_string(dispenser)};
  }
}

void Authorize(Station& station, const Call& call, http::Answer& answer) {
  const int c = PathNumber(call, 1), d = PathNumber(call, 2);
  FindDispenser(station, c, d);
  const json body = ParseBody(call);
  OnlyKeys(body, {"grade", "volume", "amount"}, "the authorization");
  const int grade = IntegerField(body, "grade", 1, kLastGrade);
  if (body.contains("volume") && body.contains("amount")) {
    throw Problem{400, "give at most one of 'volume' or 'amount'"};
  }
  FillLimit limit;
  if (body.contains("volume"))
    limit = {FillLimit::Kind::Volume, MoneyField(body, "volume", kLowestLimit, kHighestLimit)};
  if (body.contains("amount"))
    limit = {FillLimit::Kind::Amount, MoneyField(body, "amount", kLowestLimit, kHighestLimit)};
  Reply(answer,
        station.Forecourt().Authorize(c, d, grade, limit, call.caller.name, call.requestId));
}

// The answer to a repeat of an authorization a restart cut off.
void AuthorizationOutcome(Station& station, const Call& call, http::Answer& answer) {
  const int c = PathNumber(call, 1), d = PathNumber(call, 2);
  FindDispenser(station, c, d);
  Reply(answer, station.Forecourt().AuthorizationOutcome(c, d, *call.requestId));
}

}  // namespace

void AddDispenserRoutes(Router& router, Station& station) {
  router.Add({"GET", "/api/v1/dispensers", "/api/v1/dispensers", Role::View, false,
              [&station](const Call&, http::Answer& answer) {
                json all = json::array();
                for (const auto& view : station.Views()) all.push_back(DispenserJson(view));
                WriteJson(answer, all);
              }});
  router.Add({"GET", kDispenser, "/api/v1/dispensers/{c}/{d}", Role::View, false,
              [&station](const Call& call, http::Answer& answer) {
                const int c = PathNumber(call, 1), d = PathNumber(call, 2);
                FindDispenser(station, c, d);
                WriteJson(answer, DispenserJson(station.Line(c)->View(d)));
              }});
  router.Add(
      {"POST", kDispenser + "/authorize", "/api/v1/dispensers/{c}/{d}/authorize", Role::Operate,
       false,
       [&station](const Call& call, http::Answer& answer) { Authorize(station, call, answer); },
       [&station](const Call& call, http::Answer& answer) {
         AuthorizationOutcome(station, call, answer);
       },
       // Its journal row stands: the dispenser may have taken it.
       [&station](const Call& call) {
         return call.requestId && station.Journal().fills.OfRequest(*call.requestId);
       }});
  // A stop never waits for a thread behind the commands it is meant to cut short.
  router.Add({"POST", kDispenser + "/stop", "/api/v1/dispensers/{c}/{d}/stop", Role::Operate, true,
              [&station](const Call& call, http::Answer& answer) {
                const int c = PathNumber(call, 1), d = PathNumber(call, 2);
                FindDispenser(station, c, d);
                Reply(answer, station.Forecourt().StopDispenser(c, d));
              }});
  router.Add({"POST", "/api/v1/stop", "/api/v1/stop", Role::Operate, true,
              [&station](const Call&, http::Answer& answer) {
                json results = json::array();
                for (const auto& result : station.Forecourt().StopAll()) {
                  results.push_back(StopResultJson(result));
                }
                WriteJson(answer, {{"dispensers", results}});
              }});
  router.Add({"GET", kDispenser + R"(/totals/(\d+))", "/api/v1/dispensers/{c}/{d}/totals/{n}",
              Role::View, false, [&station](const Call& call, http::Answer& answer) {
                const int c = PathNumber(call, 1), d = PathNumber(call, 2), n = PathNumber(call, 3);
                FindDispenser(station, c, d);
                if (n < 1 || n > kLastNozzle)
                  throw Problem{400, "the nozzle must be 1.." + std::to_string(kLastNozzle)};
                Reply(answer, station.Forecourt().Totals(c, d, n));
              }});
}

}  // namespace quorlan::station
