#include "link/Bcd.h"

#include <cmath>
#include <limits>

#include "base/Errors.h"

namespace quorlan {

std::uint8_t BcdPair(std::int64_t x, int k) {
  std::int64_t v = x;
  for (int i = 0; i < k && v != 0; ++i) v /= 100;
  const std::int64_t pair = (v % 10) + 16 * ((v % 100) / 10);
  if (pair < 0 || pair > 255) throw ERangeError();
  return static_cast<std::uint8_t>(pair);
}

std::int64_t BcdToInt(std::span<const std::uint8_t> bytes) {
  std::int64_t value = 0;
  for (auto b : bytes) value = value * 100 + (b >> 4) * 10 + (b & 0x0F);
  return value;
}

namespace {

// Exact product a × b as the rounded product plus its rounding error
// (Dekker's two-product; exact in IEEE double with round-to-nearest).
struct ExactProduct {
  double product;
  double error;
};

ExactProduct TwoProduct(double a, double b) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const auto split = [](double x, double& high, double& low) {
    const double c = kSplitter * x;
    high = c - (c - x);
    low = x - high;
  };
  double ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  const double p = a * b;
  const double e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
  return {p, e};
}

}  // namespace

std::int32_t ToHundredths(double value) {
  if (!std::isfinite(value)) throw ERangeError();
  const auto [p, e] = TwoProduct(value, 100.0);
  // Far outside the 32-bit range the rounding details do not matter.
  if (std::fabs(p) > 4.0e9) throw ERangeError();
  const double floor = std::floor(p);
  // Distance of the exact product from the midpoint floor + 0.5; both terms
  // are exact, so only the sign of their sum decides.
  const double aboveHalf = (p - floor) - 0.5;
  double rounded;
  if (aboveHalf > 0 || (aboveHalf == 0 && e > 0)) {
    rounded = floor + 1;
  } else if (aboveHalf < 0 || (aboveHalf == 0 && e < 0)) {
    rounded = floor;
  } else {
    rounded = std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
  }
  if (rounded < std::numeric_limits<std::int32_t>::min() ||
      rounded > std::numeric_limits<std::int32_t>::max()) {
    throw ERangeError();
  }
  return static_cast<std::int32_t>(rounded);
}

}  // namespace quorlan
