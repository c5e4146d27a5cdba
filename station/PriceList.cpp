// SPDX-License-Identifier: Apache-2.0
#include "station/PriceList.h"

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

#include "quorlan/Driver.h"
#include "quorlan/PortDispatcher.h"
#include "station/base/Money.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

constexpr std::string_view kEntryKeys[] = {"channel", "dispenser", "grade", "price"};

std::string Quoted(const char* key) {
  return std::string("'") + key + "'";
}

int IntegerField(const json& item, const char* key, int low, int high) {
  if (!item.contains(key)) throw PriceListError(Quoted(key) + " is missing");
  const json& value = item.at(key);
  if (!value.is_number_integer()) throw PriceListError(Quoted(key) + " must be an integer");
  const auto number = value.get<std::int64_t>();
  if (number < low || number > high) {
    throw PriceListError(Quoted(key) + " must be " + std::to_string(low) + ".." +
                         std::to_string(high));
  }
  return static_cast<int>(number);
}

Cents PriceField(const json& item) {
  constexpr const char* kKey = "price";
  if (!item.contains(kKey)) throw PriceListError(Quoted(kKey) + " is missing");
  const json& value = item.at(kKey);
  if (!value.is_number()) throw PriceListError(Quoted(kKey) + " must be a number");
  const auto cents = ExactCents(value.get<double>());
  if (!cents) throw PriceListError(Quoted(kKey) + " has more than two decimals");
  if (*cents < kLowestPrice || *cents > kHighestPrice) {
    throw PriceListError(Quoted(kKey) + " must be " + json(FromCents(kLowestPrice)).dump() + ".." +
                         json(FromCents(kHighestPrice)).dump());
  }
  return *cents;
}

}  // namespace

std::vector<PriceEntry> ReadPriceList(const json& list, const HasDispenser& has) {
  if (!list.is_array()) throw PriceListError("the prices must be a list");
  std::vector<PriceEntry> entries;
  std::set<std::tuple<int, int, int>> seen;
  for (const json& item : list) {
    if (!item.is_object()) throw PriceListError("a price must be a JSON object");
    for (const auto& [key, value] : item.items()) {
      if (std::find(std::begin(kEntryKeys), std::end(kEntryKeys), key) == std::end(kEntryKeys)) {
        throw PriceListError("unknown field '" + key + "' in a price");
      }
    }
    PriceEntry entry;
    entry.channel = IntegerField(item, "channel", 1, kLastChannel);
    entry.dispenser = IntegerField(item, "dispenser", 1, kLastDispenser);
    entry.grade = IntegerField(item, "grade", 1, kLastGrade);
    entry.price = PriceField(item);
    if (!has(entry.channel, entry.dispenser)) {
      throw PriceListError("no dispenser " + std::to_string(entry.channel) + "/" +
                           std::to_string(entry.dispenser));
    }
    if (!seen.insert({entry.channel, entry.dispenser, entry.grade}).second) {
      throw PriceListError("a price is given twice");
    }
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace quorlan::station
