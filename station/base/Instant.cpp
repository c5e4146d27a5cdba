// SPDX-License-Identifier: Apache-2.0
#include "station/base/Instant.h"

#include <fmt/format.h>

namespace quorlan::station {

namespace {

using namespace std::chrono;

// Reads exactly `digits` decimal digits at `at`.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t digits) {
  if (at + digits > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool At(std::string_view text, std::size_t at, std::string_view any) {
  return at < text.size() && any.find(text[at]) != std::string_view::npos;
}

constexpr int kMaxOffsetMinutes = 24 * 60 - 1;

}  // namespace

std::string FormatUtc(Instant instant) {
  const auto day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss time{instant - day};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", int(date.year()),
                     unsigned(date.month()), unsigned(date.day()), time.hours().count(),
                     time.minutes().count(), time.seconds().count(), time.subseconds().count());
}

std::optional<Instant> ParseRfc3339(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS[.fff...](Z|+HH:MM|-HH:MM)
  const auto year = Digits(text, 0, 4);
  const auto month = Digits(text, 5, 2);
  const auto day = Digits(text, 8, 2);
  const auto hour = Digits(text, 11, 2);
  const auto minute = Digits(text, 14, 2);
  const auto second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (!At(text, 4, "-") || !At(text, 7, "-") || !At(text, 10, "Tt") || !At(text, 13, ":") ||
      !At(text, 16, ":")) {
    return std::nullopt;
  }
  const year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                            std::chrono::day(unsigned(*day))};
  if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;

  std::size_t at = 19;
  int millis = 0;
  if (At(text, at, ".")) {
    ++at;
    const std::size_t first = at;
    while (At(text, at, "0123456789")) {
      if (at - first < 3) millis = millis * 10 + (text[at] - '0');
      ++at;
    }
    if (at == first) return std::nullopt;
    for (std::size_t shown = at - first; shown < 3; ++shown) millis *= 10;
  }
  int offsetMinutes = 0;
  if (At(text, at, "Zz")) {
    ++at;
  } else if (At(text, at, "+- ")) {
    const int sign = text[at] == '-' ? -1 : 1;
    const auto hours = Digits(text, at + 1, 2);
    const auto minutes = Digits(text, at + 4, 2);
    if (!hours || !minutes || !At(text, at + 3, ":") || *minutes > 59) return std::nullopt;
    offsetMinutes = sign * (*hours * 60 + *minutes);
    if (*hours * 60 + *minutes > kMaxOffsetMinutes) return std::nullopt;
    at += 6;
  } else {
    return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  return Instant{sys_days{date} + hours{*hour} + minutes{*minute} + seconds{*second} +
                 milliseconds{millis} - minutes{offsetMinutes}};
}

Instant Now() {
  return floor<milliseconds>(system_clock::now());
}

}  // namespace quorlan::station
