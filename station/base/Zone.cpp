// SPDX-License-Identifier: Apache-2.0
#include "station/base/Zone.h"

#include <date/tz.h>

#include <stdexcept>

namespace quorlan::station {

namespace {

constexpr const char* kFallbackZone = "Etc/UTC";

const date::time_zone* SystemZone() {
  try {
    return date::current_zone();
  } catch (const std::exception&) {
    // A container without /etc/localtime: its clock is UTC.
    return date::locate_zone(kFallbackZone);
  }
}

}  // namespace

std::optional<Zone> Zone::Find(const std::string& name) {
  try {
    const date::time_zone* zone = name.empty() ? SystemZone() : date::locate_zone(name);
    return Zone(zone, name.empty() ? std::string(zone->name()) : name);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string Zone::Format(Instant instant) const {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(instant);
  return date::format("%FT%T%Ez", date::make_zoned(zone_, seconds));
}

}  // namespace quorlan::station
