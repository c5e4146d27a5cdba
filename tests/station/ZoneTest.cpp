// SPDX-License-Identifier: Apache-2.0
// Report times in the station's zone: the offset of the day, daylight saving
// edges on both sides, zones off the hour, and names the database lacks.

#include <gtest/gtest.h>

#include "station/base/Zone.h"

namespace quorlan::station {
namespace {

struct ZonedCase {
  const char* zone;
  const char* utc;
  const char* expected;
};

TEST(StationZone, WritesEachInstantWithTheOffsetItHadThere) {
  const ZonedCase cases[] = {
      {"Europe/Berlin", "2026-12-07T21:10:00Z", "2026-12-07T22:10:00+01:00"},
      {"Europe/Berlin", "2026-07-01T12:00:00Z", "2026-07-01T14:00:00+02:00"},
      // Spring forward: 02:00 local never happens.
      {"Europe/Berlin", "2026-03-29T00:59:59Z", "2026-03-29T01:59:59+01:00"},
      {"Europe/Berlin", "2026-03-29T01:00:00Z", "2026-03-29T03:00:00+02:00"},
      // Fall back: 02:00..03:00 local happens twice, told apart by the offset.
      {"Europe/Berlin", "2026-10-25T00:30:00Z", "2026-10-25T02:30:00+02:00"},
      {"Europe/Berlin", "2026-10-25T01:30:00Z", "2026-10-25T02:30:00+01:00"},
      {"America/New_York", "2026-11-01T05:59:59Z", "2026-11-01T01:59:59-04:00"},
      {"America/New_York", "2026-11-01T06:00:00Z", "2026-11-01T01:00:00-05:00"},
      // Another day there, an offset off the hour, milliseconds cut.
      {"Asia/Kolkata", "2026-12-07T21:10:00.999Z", "2026-12-08T02:40:00+05:30"},
      {"Asia/Kathmandu", "2026-12-07T00:00:00Z", "2026-12-07T05:45:00+05:45"},
      {"Etc/UTC", "2026-12-07T10:15:02.120Z", "2026-12-07T10:15:02+00:00"},
  };
  for (const ZonedCase& c : cases) {
    const auto zone = Zone::Find(c.zone);
    ASSERT_TRUE(zone) << c.zone;
    const auto instant = ParseRfc3339(c.utc);
    ASSERT_TRUE(instant) << c.utc;
    const std::string text = zone->Format(*instant);
    EXPECT_EQ(text, c.expected) << c.zone << " " << c.utc;
    // The text names the same second again.
    EXPECT_EQ(ParseRfc3339(text), std::chrono::floor<std::chrono::seconds>(*instant)) << text;
  }
}

TEST(StationZone, KnowsOnlyTheDatabasesZonesAndDefaultsToTheSystems) {
  for (const char* unknown : {"Mars/Olympus_Mons", "../../etc/passwd", "/etc/localtime",
                              "Europe/berlin", "CET;rm", "Europe/Berlin "}) {
    EXPECT_FALSE(Zone::Find(unknown)) << unknown;
  }
  const auto system = Zone::Find("");
  ASSERT_TRUE(system);
  EXPECT_FALSE(system->Name().empty());
  EXPECT_EQ(Zone::Find("Europe/Berlin")->Name(), "Europe/Berlin");
}

}  // namespace
}  // namespace quorlan::station
