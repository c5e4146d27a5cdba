#pragma once
// --prices-file: the prices a technician sets on the same station again and
// again, in a small text file or in TOML (docs/cli.md shows both).

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "Arguments.h"

namespace quorlan::cli {

struct StationPrices {
  std::optional<PriceTable> everyDispenser;
  std::map<std::pair<int, int>, PriceTable> dispensers;  // (channel, dispenser)

  // The table for one dispenser: its own, else the station's, else none.
  std::optional<PriceTable> For(int channel, int dispenser) const;
};

// A path ending in ".toml" is read as TOML, anything else as text. Throws
// UsageError naming the file and what is wrong in it.
StationPrices LoadPriceFile(const std::string& path);

}  // namespace quorlan::cli
