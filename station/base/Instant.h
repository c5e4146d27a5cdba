// SPDX-License-Identifier: Apache-2.0
#pragma once
// Instants as the journal keeps them and as clients give them: milliseconds
// since the epoch inside, RFC 3339 text outside.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quorlan::station {

using Instant = std::chrono::sys_time<std::chrono::milliseconds>;

// "2026-12-07T10:15:02.120Z": fixed width, so that the journal's stamps
// compare as text in the order of time.
std::string FormatUtc(Instant instant);
// RFC 3339 with a date, a time and an offset ("Z" or "+01:00"); fractions
// beyond milliseconds are cut. nullopt for anything else, a day that does
// not exist included. A space stands for "+" in the offset: a query string
// that did not escape its plus sign decodes it so.
std::optional<Instant> ParseRfc3339(std::string_view text);
Instant Now();

}  // namespace quorlan::station
