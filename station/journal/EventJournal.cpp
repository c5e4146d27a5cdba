// SPDX-License-Identifier: Apache-2.0
#include "station/journal/EventJournal.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace quorlan::station {

namespace {

constexpr std::string_view kEventIdCounter = "event_id";

}  // namespace

EventJournal::EventJournal(Database& database) : database_(database) {
  // A database opened anew gets the reservation again.
  database_.AtOpen([this](sql::Database& db) {
    if (reserved_ > 0) WriteReservation(db, reserved_);
  });
}

void EventJournal::Insert(sql::Database& db, const StoredEvent& event) {
  db.Prepare("INSERT INTO events(id, name, data) VALUES(?, ?, ?)")
      .Bind(1, event.id)
      .Bind(2, event.name)
      .Bind(3, event.data)
      .Run();
}

std::vector<StoredEvent> EventJournal::After(std::int64_t after, std::int64_t upTo, int limit) {
  return database_.Reading([&](sql::Database& reader) {
    auto query = reader.Prepare(
        "SELECT id, name, data FROM events WHERE id > ? AND id <= ? ORDER BY id LIMIT ?");
    query.Bind(1, after).Bind(2, upTo).Bind(3, std::int64_t{limit});
    std::vector<StoredEvent> events;
    while (query.Step()) events.push_back({query.Integer(0), query.Text(1), query.Text(2)});
    return events;
  });
}

std::int64_t EventJournal::IdFloor() {
  return database_.Reading([&](sql::Database& reader) {
    auto query = reader.Prepare(
        "SELECT max(coalesce((SELECT max(id) FROM events), 0), "
        "coalesce((SELECT value FROM counters WHERE name = ?), 0))");
    query.Bind(1, std::string(kEventIdCounter));
    query.Step();
    return query.Integer(0);
  });
}

void EventJournal::Reserve(std::int64_t upTo) {
  database_.Locked([&](sql::Database& db) {
    reserved_ = std::max(reserved_, upTo);
    // Written again when the database can be; events go on meanwhile.
    if (database_.Usable()) WriteReservation(db, upTo);
  });
}

void EventJournal::WriteReservation(sql::Database& db, std::int64_t upTo) {
  db.Prepare(
        "INSERT INTO counters(name, value) VALUES(?, ?) "
        "ON CONFLICT(name) DO UPDATE SET value = max(value, excluded.value)")
      .Bind(1, std::string(kEventIdCounter))
      .Bind(2, upTo)
      .Run();
}

}  // namespace quorlan::station
