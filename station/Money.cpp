#include "station/Money.h"

#include <cmath>

namespace quorlan::station {

std::optional<Cents> ExactCents(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 1e12) return std::nullopt;
  const double hundredths = value * 100;
  const double rounded = std::round(hundredths);
  // Tolerates the binary form of a decimal like 52.9, not a third decimal.
  if (std::fabs(hundredths - rounded) > 1e-6 * std::max(1.0, std::fabs(rounded))) {
    return std::nullopt;
  }
  return static_cast<Cents>(rounded);
}

Cents RoundCents(double value) {
  return std::isfinite(value) ? static_cast<Cents>(std::llround(value * 100)) : 0;
}

double FromCents(Cents value) {
  return static_cast<double>(value) / 100;
}

std::string_view KindName(FillLimit::Kind kind) {
  switch (kind) {
    case FillLimit::Kind::Volume:
      return "volume";
    case FillLimit::Kind::Amount:
      return "amount";
    case FillLimit::Kind::None:
      break;
  }
  return "none";
}

FillLimit::Kind ParseKind(std::string_view name) {
  if (name == "volume") return FillLimit::Kind::Volume;
  if (name == "amount") return FillLimit::Kind::Amount;
  return FillLimit::Kind::None;
}

}  // namespace quorlan::station
