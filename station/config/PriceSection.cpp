// SPDX-License-Identifier: Apache-2.0
// [[price]]: the book a new station starts with.

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "quorlan/Driver.h"
#include "station/base/Money.h"
#include "station/config/Config.h"
#include "station/config/Sections.h"

namespace quorlan::station {

namespace {

// Hundredths as the file writes them: "0.01".
std::string Decimal(Cents cents) {
  return fmt::format("{}.{:02}", cents / 100, cents % 100);
}

// A [[price]] as written: channel and dispenser 0 where it leaves them out.
struct PriceRule {
  int line = 0;
  StartingPrice price;
};

std::optional<PriceRule> Price(TomlReader& reader, const toml::table& table) {
  const int at = LineOf(table);
  const std::size_t before = reader.ProblemCount();
  reader.CheckKeys(table, {"grade", "price", "channel", "dispenser"}, " in [[price]]");
  PriceRule rule;
  rule.line = at;
  if (const toml::node* grade = table.get("grade")) {
    rule.price.grade = reader.Integer(*grade, "grade", 1, int{kLastGrade}).value_or(0);
  } else {
    reader.Problem(at, "[[price]] needs a 'grade'");
  }
  if (const toml::node* price = table.get("price")) {
    std::optional<Cents> cents;
    if (price->is_integer() && price->as_integer()->get() >= 0 &&
        price->as_integer()->get() <= kHighestPrice) {
      cents = price->as_integer()->get() * 100;
    } else if (price->is_floating_point()) {
      cents = ExactCents(price->as_floating_point()->get());
    }
    if (cents && *cents >= kLowestPrice && *cents <= kHighestPrice) {
      rule.price.price = *cents;
    } else {
      reader.Problem(LineOf(*price), fmt::format("'price' must be {}..{} with at most two decimals",
                                                 Decimal(kLowestPrice), Decimal(kHighestPrice)));
    }
  } else {
    reader.Problem(at, "[[price]] needs a 'price'");
  }
  rule.price.channel = reader.OptionalInteger(table, "channel", 1, kLastChannel).value_or(0);
  if (const toml::node* dispenser = table.get("dispenser")) {
    rule.price.dispenser = reader.Integer(*dispenser, "dispenser", 1, kLastDispenser).value_or(0);
    if (!table.get("channel")) reader.Problem(LineOf(*dispenser), "'dispenser' needs 'channel'");
  }
  if (reader.ProblemCount() != before) return std::nullopt;
  return rule;
}

std::string Scope(const StartingPrice& price) {
  if (price.dispenser != 0)
    return fmt::format("on dispenser {}/{}", price.channel, price.dispenser);
  if (price.channel != 0) return fmt::format("on channel {}", price.channel);
  return "for the station";
}

}  // namespace

void ReadPrices(TomlReader& reader, const toml::table& root, StationConfig& config) {
  std::map<std::tuple<int, int, int>, Cents> rules;  // channel, dispenser, grade
  for (const toml::node& node : reader.Tables(root, "price")) {
    const auto rule = Price(reader, *node.as_table());
    if (!rule) continue;
    const StartingPrice& price = rule->price;
    const auto line = std::find_if(config.lines.begin(), config.lines.end(),
                                   [&](const LineConfig& l) { return l.channel == price.channel; });
    if (price.channel != 0 && line == config.lines.end()) {
      reader.Problem(rule->line,
                     fmt::format("[[price]]: channel {} has no [[line]]", price.channel));
    } else if (price.dispenser != 0 && std::find(line->dispensers.begin(), line->dispensers.end(),
                                                 price.dispenser) == line->dispensers.end()) {
      reader.Problem(rule->line, fmt::format("[[price]]: channel {} has no dispenser {}",
                                             price.channel, price.dispenser));
    } else if (!rules.emplace(std::tuple{price.channel, price.dispenser, price.grade}, price.price)
                    .second) {
      reader.Problem(rule->line,
                     fmt::format("grade {} is priced twice {}", price.grade, Scope(price)));
    }
  }
  for (const LineConfig& line : config.lines) {
    for (int d : line.dispensers) {
      for (int g = 1; g <= int{kLastGrade}; ++g) {
        for (const auto& key : {std::tuple{line.channel, d, g}, std::tuple{line.channel, 0, g},
                                std::tuple{0, 0, g}}) {
          if (const auto rule = rules.find(key); rule != rules.end()) {
            config.startingPrices.push_back({line.channel, d, g, rule->second});
            break;
          }
        }
      }
    }
  }
}

}  // namespace quorlan::station
