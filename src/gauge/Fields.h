// SPDX-License-Identifier: Apache-2.0
#pragma once
// The reply's field encodings: the checksum, the IEEE 754 singles written as
// 8 hex digits, decimal and hex counts and the gauge's clock.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorlan::gauge {

// The 16-bit two's complement of the byte sum of `message` (SOH through
// "&&"): the sum plus this value is 0 modulo 65536.
std::uint16_t Checksum(std::string_view message);
// `message` followed by `digits` (4 hex digits) passes the check.
bool ChecksumHolds(std::string_view message, std::string_view digits);
// Upper-case hex, zero-padded to `width`.
std::string Hex(std::uint32_t value, int width);

// The 8 hex digits of a single as the gauge writes it (sign, exponent and
// mantissa, most significant nibble first); nothing unless exactly 8 hex
// digits. May be NaN or infinite: the caller judges the value.
std::optional<float> ParseHexFloat(std::string_view digits);
std::string HexFloat(float value);

// A whole number in `digits`, which must all be decimal (or hex).
std::optional<int> ParseDecimal(std::string_view digits);
std::optional<int> ParseHex(std::string_view digits);

// The console's clock as its reply states it; it carries no zone.
struct GaugeTime {
  int year = 2000;  // 2000..2099
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  friend bool operator==(const GaugeTime&, const GaugeTime&) = default;
};
// YYMMDDHHmm; nothing for a field out of its range.
std::optional<GaugeTime> ParseGaugeTime(std::string_view digits);
std::string FormatGaugeTime(const GaugeTime& time);  // YYMMDDHHmm
std::string IsoText(const GaugeTime& time);          // YYYY-MM-DDTHH:mm

}  // namespace quorlan::gauge
