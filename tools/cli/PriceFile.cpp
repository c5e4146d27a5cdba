#include "PriceFile.h"

#include <fmt/format.h>
#include <toml++/toml.h>

#include <fstream>
#include <sstream>

#include "ExitCodes.h"

namespace quorlan::cli {

namespace {

int Address(const std::string& where, std::string_view what, std::int64_t value, int last) {
  if (value < 1 || value > last) {
    throw UsageError(fmt::format("{}: {} {} is outside 1..{}", where, what, value, last));
  }
  return static_cast<int>(value);
}

void Put(StationPrices& prices, const std::string& where, std::optional<std::pair<int, int>> at,
         const PriceTable& table) {
  if (!at) {
    if (prices.everyDispenser) throw UsageError(where + ": a second table for every dispenser");
    prices.everyDispenser = table;
  } else if (!prices.dispensers.emplace(*at, table).second) {
    throw UsageError(fmt::format("{}: a second table for channel {}, dispenser {}", where,
                                 at->first, at->second));
  }
}

// Lines "PRICES" (every dispenser), "D: PRICES" or "C/D: PRICES".
StationPrices ReadText(const std::string& path, std::istream& in) {
  StationPrices prices;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const auto where = fmt::format("{}:{}", Shown(path), number);
    line = line.substr(0, line.find('#'));
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::optional<std::pair<int, int>> at;
    const auto colon = line.find(':');
    if (colon != std::string::npos) {
      const auto head = line.substr(0, colon);
      const auto slash = head.find('/');
      try {
        const int channel = slash == std::string::npos ? 1 : std::stoi(head.substr(0, slash));
        const int dispenser = std::stoi(slash == std::string::npos ? head : head.substr(slash + 1));
        at = std::pair{Address(where, "channel", channel, kLastChannel),
                       Address(where, "dispenser", dispenser, kLastDispenser)};
      } catch (const std::logic_error&) {
        throw UsageError(
            fmt::format("{}: {} is not DISPENSER or CHANNEL/DISPENSER", where, Shown(head)));
      }
      line = line.substr(colon + 1);
    }
    Put(prices, where, at, ParsePriceTable(where, line));
  }
  return prices;
}

// A price as TOML holds it: a string "54.10" or a number, read the same way.
std::string PriceText(const std::string& where, const toml::node& node) {
  if (const auto* text = node.as_string()) return text->get();
  if (const auto* whole = node.as_integer()) return std::to_string(whole->get());
  if (const auto* number = node.as_floating_point()) return fmt::format("{}", number->get());
  throw UsageError(where + ": a price is a number or a string");
}

PriceTable TomlTable(const std::string& where, const toml::node* node) {
  const auto* array = node ? node->as_array() : nullptr;
  if (array == nullptr) throw UsageError(where + ": prices = [grade 1, 2, 3, 4] is missing");
  std::string text;
  for (const auto& price : *array) text += PriceText(where, price) + ",";
  return ParsePriceTable(where, text);
}

StationPrices ReadToml(const std::string& path) {
  toml::table document;
  try {
    document = toml::parse_file(path);
  } catch (const toml::parse_error& error) {
    throw UsageError(fmt::format("{}:{}: {}", Shown(path), error.source().begin.line,
                                 std::string(error.description())));
  }
  StationPrices prices;
  if (document.contains("prices")) {
    Put(prices, Shown(path), std::nullopt, TomlTable(Shown(path), document.get("prices")));
  }
  if (const auto* dispensers = document["dispenser"].as_array()) {
    int index = 0;
    for (const auto& entry : *dispensers) {
      const auto where = fmt::format("{}: [[dispenser]] {}", Shown(path), ++index);
      const auto* table = entry.as_table();
      if (table == nullptr) throw UsageError(where + ": not a table");
      const auto channel = (*table)["channel"].value_or<std::int64_t>(1);
      const auto dispenser = (*table)["number"].value<std::int64_t>();
      if (!dispenser) throw UsageError(where + ": number = DISPENSER is missing");
      Put(prices, where,
          std::pair{Address(where, "channel", channel, kLastChannel),
                    Address(where, "dispenser", *dispenser, kLastDispenser)},
          TomlTable(where, table->get("prices")));
    }
  }
  return prices;
}

}  // namespace

std::optional<PriceTable> StationPrices::For(int channel, int dispenser) const {
  const auto own = dispensers.find({channel, dispenser});
  if (own != dispensers.end()) return own->second;
  return everyDispenser;
}

StationPrices LoadPriceFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw UsageError(fmt::format("--prices-file {}: cannot be read", Shown(path)));
  if (path.ends_with(".toml")) return ReadToml(path);
  return ReadText(path, in);
}

}  // namespace quorlan::cli
