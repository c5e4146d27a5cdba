// SPDX-License-Identifier: Apache-2.0
#include "station/uplink/FleetOutbox.h"

#include <nlohmann/json.hpp>
#include <string>

#include "station/fleet/Outbox.h"
#include "station/fleet/StationSql.h"
#include "station/format/JsonViews.h"

namespace quorlan::station {

void FleetOutbox::Prepare(sql::Database& db) {
  db.Execute(fleet::Outbox::Schema());
}

void FleetOutbox::Fill(sql::Database& db, const FillRecord& fill) {
  fleet::StationSql sql(db);
  fleet::Outbox::AddChange(sql, fleet::Kind::Fill, std::to_string(fill.id), FillJson(fill));
}

void FleetOutbox::Shift(sql::Database& db, std::int64_t shift, const std::string& report) {
  fleet::StationSql sql(db);
  fleet::Outbox::AddChange(sql, fleet::Kind::Shift, std::to_string(shift),
                           nlohmann::json::parse(report));
}

void FleetOutbox::Alarm(Store& store, const StoredEvent& event) {
  auto data = nlohmann::json::parse(event.data);
  // This station never clears an alarm: a person looks and acts.
  data["active"] = true;
  store.database.Write([&](sql::Database& db) {
    fleet::StationSql sql(db);
    fleet::Outbox::AddChange(sql, fleet::Kind::Alarm, std::to_string(event.id), data);
  });
}

}  // namespace quorlan::station
