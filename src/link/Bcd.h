#pragma once
// Packed decimal fields and values in hundredths, as frames carry numbers.

#include <cstdint>
#include <span>

namespace quorlan {

// Digit pair k of x: the BCD byte of decimal digits 2k+1 (high) and 2k (low).
// Negative pairs (x < 0 with a non-zero pair) fail with ERangeError.
std::uint8_t BcdPair(std::int64_t x, int k);

// Bytes most significant first; nibbles above 9 are taken at face value.
std::int64_t BcdToInt(std::span<const std::uint8_t> bytes);
inline std::int64_t BcdToInt(std::uint8_t byte) {
  return BcdToInt(std::span(&byte, 1));
}

// True when both nibbles of the byte are decimal digits.
constexpr bool IsBcdByte(std::uint8_t byte) {
  return (byte >> 4) <= 9 && (byte & 0x0F) <= 9;
}

// value × 100 from the exact product, rounded half to even; outside the
// signed 32-bit range (or not finite) fails with ERangeError.
std::int32_t ToHundredths(double value);

}  // namespace quorlan
