// SPDX-License-Identifier: Apache-2.0
// The price book's routes.

#include <vector>

#include "station/PriceList.h"
#include "station/api/Routes.h"
#include "station/format/JsonViews.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

void PutPrices(Station& station, const Call& call, http::Answer& answer) {
  const json body = ParseBody(call);
  if (!body.is_array()) throw Problem{400, "the body must be a list of prices"};
  // The whole list is checked before anything is stored.
  std::vector<PriceEntry> entries;
  try {
    entries = ReadPriceList(body, [&station](int c, int d) { return station.Has(c, d); });
  } catch (const PriceListError& error) {
    throw Problem{400, error.what()};
  }
  json results = json::array();
  for (const auto& result : station.Forecourt().ChangePrices(entries)) {
    results.push_back(PriceResultJson(result));
  }
  WriteJson(answer, {{"dispensers", results}});
}

}  // namespace

void AddPriceRoutes(Router& router, Station& station) {
  router.Add({"GET", "/api/v1/prices", "/api/v1/prices", Role::View, false,
              [&station](const Call&, http::Answer& answer) {
                json book = json::array();
                for (const auto& entry : station.Journal().prices.All()) {
                  book.push_back(PriceJson(entry));
                }
                WriteJson(answer, book);
              }});
  router.Add(
      {"PUT", "/api/v1/prices", "/api/v1/prices", Role::Admin, false,
       [&station](const Call& call, http::Answer& answer) { PutPrices(station, call, answer); }});
}

}  // namespace quorlan::station
