#pragma once
// What the user typed, checked before anything reaches a line: money and
// volume as plain decimals, the price table, and arguments quoted safely in
// messages.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quorlan/Driver.h"

namespace quorlan::cli {

// A plain decimal with at most two decimals ("52.9", "54.10", "7"), in
// hundredths. Throws UsageError naming the option and a short reason
// ("not a number", "at most two decimals", "outside 0.01..99.99").
std::int64_t ParseHundredths(std::string_view option, std::string_view text, std::int64_t least,
                             std::int64_t most);

inline constexpr std::int64_t kLeastPrice = 1;      // 0.01
inline constexpr std::int64_t kMostPrice = 9999;    // 99.99: four digits on the line
inline constexpr std::int64_t kLeastLimit = 1;      // a limit of zero is no limit
inline constexpr std::int64_t kMostLimit = 999999;  // 9999.99: six digits on the line

using PriceTable = std::array<double, kTableGrades>;

// "52.90,54.10,61.00,48.75" (commas or blanks): the prices of grades 1..4.
PriceTable ParsePriceTable(std::string_view option, std::string_view text);
double ParsePrice(std::string_view option, std::string_view text);
double ParseLimit(std::string_view option, std::string_view text);

// An argument as a message shows it: control characters escaped (\n, \x1B),
// and cut with "..." beyond kShownLength characters.
inline constexpr std::size_t kShownLength = 64;
std::string Shown(std::string_view text);
// The same without the cut: a whole message kept on one line.
std::string Escaped(std::string_view text);
// A message with every argument in `args` replaced by how Shown shows it,
// for the parser's own messages, which repeat what was typed.
std::string ShownMessage(std::string message, const std::vector<std::string>& args);

// The known name closest to `typed` by edit distance, or empty when none is
// close enough to be a likely typo.
std::string NearestName(std::string_view typed, const std::vector<std::string>& known);

}  // namespace quorlan::cli
