#include "station/base/Money.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

namespace quorlan::station {

namespace {

// The relative error of a double's product by 100, with room to spare.
constexpr double kBinaryError = 1e-12;
// An exponent beyond any body's length.
constexpr std::int64_t kLargestShift = 1'000'000;

}  // namespace

std::optional<Cents> ExactCents(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 1e12) return std::nullopt;
  const double hundredths = value * 100;
  const double rounded = std::round(hundredths);
  // Tolerates the binary form of a decimal like 52.9 (a few units in the last
  // place), nothing more: a tolerance that grows with the value would take
  // 9999.985 for 9999.99.
  if (std::fabs(hundredths - rounded) > kBinaryError * std::max(1.0, std::fabs(rounded))) {
    return std::nullopt;
  }
  return static_cast<Cents>(rounded);
}

bool HasDigitsPastHundredths(std::string_view text) {
  std::size_t at = 0;
  if (at < text.size() && text[at] == '-') ++at;
  std::string digits;
  std::int64_t point = 0;  // where the decimal point falls in `digits`
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    digits += text[at];
  }
  point = static_cast<std::int64_t>(digits.size());
  if (at < text.size() && text[at] == '.') {
    for (++at; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
      digits += text[at];
    }
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    std::int64_t exponent = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
      // Past the digits any text can hold, a larger exponent changes nothing.
      exponent = std::min<std::int64_t>(exponent * 10 + (text[at] - '0'), kLargestShift);
    }
    point += negative ? -exponent : exponent;
  }
  const std::int64_t firstPast = std::max<std::int64_t>(point + 2, 0);
  for (auto i = static_cast<std::size_t>(
           std::min<std::int64_t>(firstPast, static_cast<std::int64_t>(digits.size())));
       i < digits.size(); ++i) {
    if (digits[i] != '0') return true;
  }
  return false;
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
