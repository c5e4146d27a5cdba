// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station's time zone: reports say their times in it, with its offset,
// so a shift that closed at ten in the evening reads so on paper.

#include <optional>
#include <string>

#include "station/base/Instant.h"

namespace date {
class time_zone;
}

namespace quorlan::station {

class Zone {
 public:
  // The IANA zone `name` ("Europe/Berlin"), or the system's when `name` is
  // empty (UTC when the system names none); nullopt for a zone the zone
  // database does not know.
  static std::optional<Zone> Find(const std::string& name);

  // RFC 3339 to the second with the zone's offset then:
  // "2026-12-07T22:10:00+01:00".
  std::string Format(Instant instant) const;
  const std::string& Name() const { return name_; }

 private:
  Zone(const date::time_zone* zone, std::string name) : zone_(zone), name_(std::move(name)) {}

  const date::time_zone* zone_;
  std::string name_;
};

}  // namespace quorlan::station
