// SPDX-License-Identifier: Apache-2.0
#include "gauge/Fields.h"

#include <bit>
#include <cstdio>

#include "gauge/Protocol.h"

namespace quorlan::gauge {
namespace {

std::optional<int> Digit(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (value < 0 || value >= base) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ParseNumber(std::string_view digits, int base) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    const auto digit = Digit(c, base);
    if (!digit) return std::nullopt;
    value = value * std::uint32_t(base) + std::uint32_t(*digit);
  }
  return value;
}

}  // namespace

std::uint16_t Checksum(std::string_view message) {
  std::uint32_t sum = 0;
  for (char c : message) sum += static_cast<std::uint8_t>(c);
  return static_cast<std::uint16_t>(0x10000 - (sum & 0xFFFF));
}

bool ChecksumHolds(std::string_view message, std::string_view digits) {
  const auto given = digits.size() == kChecksumDigits ? ParseNumber(digits, 16) : std::nullopt;
  return given && *given == Checksum(message);
}

std::string Hex(std::uint32_t value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", width, value);
  return text;
}

std::optional<float> ParseHexFloat(std::string_view digits) {
  if (digits.size() != kFloatDigits) return std::nullopt;
  const auto bits = ParseNumber(digits, 16);
  if (!bits) return std::nullopt;
  return std::bit_cast<float>(*bits);
}

std::string HexFloat(float value) {
  return Hex(std::bit_cast<std::uint32_t>(value), int(kFloatDigits));
}

std::optional<int> ParseDecimal(std::string_view digits) {
  const auto value = ParseNumber(digits, 10);
  if (!value) return std::nullopt;
  return int(*value);
}

std::optional<int> ParseHex(std::string_view digits) {
  if (digits.size() > 7) return std::nullopt;
  const auto value = ParseNumber(digits, 16);
  if (!value) return std::nullopt;
  return int(*value);
}

std::optional<GaugeTime> ParseGaugeTime(std::string_view digits) {
  if (digits.size() != kTimeDigits) return std::nullopt;
  int part[5];
  for (int i = 0; i < 5; ++i) {
    const auto value = ParseDecimal(digits.substr(std::size_t(2 * i), 2));
    if (!value) return std::nullopt;
    part[i] = *value;
  }
  const GaugeTime time{2000 + part[0], part[1], part[2], part[3], part[4]};
  if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 || time.hour > 23 ||
      time.minute > 59) {
    return std::nullopt;
  }
  return time;
}

std::string FormatGaugeTime(const GaugeTime& time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d", time.year % 100, time.month, time.day,
                time.hour, time.minute);
  return text;
}

std::string IsoText(const GaugeTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", time.year, time.month, time.day,
                time.hour, time.minute);
  return text;
}

}  // namespace quorlan::gauge
