#pragma once
// Money and volume as the station keeps them: integer hundredths, so that a
// price, a limit or a fill never drifts by a rounding.

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorlan::station {

using Cents = std::int64_t;  // hundredths of a litre or of the currency

// A number with at most two decimals as hundredths; nullopt for anything
// else (three decimals, not finite, beyond any display).
std::optional<Cents> ExactCents(double value);
// True when a JSON number's text has a digit other than zero past the
// hundredths ("52.899999999", "1.005", "1e-3"); "5.000" and "1.25e1" do not.
// The text has the JSON number grammar.
bool HasDigitsPastHundredths(std::string_view text);
// A reading of the driver, to the nearest hundredth.
Cents RoundCents(double value);
double FromCents(Cents value);

struct FillLimit {
  enum class Kind : std::uint8_t { None, Volume, Amount };
  Kind kind = Kind::None;
  Cents value = 0;
  friend bool operator==(const FillLimit&, const FillLimit&) = default;
};
std::string_view KindName(FillLimit::Kind kind);  // "none", "volume", "amount"
FillLimit::Kind ParseKind(std::string_view name);

}  // namespace quorlan::station
