// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station's link to head office, made when [fleet] is configured: the
// journal's changes into the outbox, the publisher that sends it, price
// pushes through the station's own price use case, alarms and the pumps'
// live states.

#include <memory>
#include <nlohmann/json.hpp>

#include "station/app/Station.h"
#include "station/fleet/CommandReceiver.h"
#include "station/fleet/Publisher.h"
#include "station/fleet/StationSql.h"
#include "station/sql/Sqlite.h"
#include "station/uplink/FleetOutbox.h"

namespace quorlan::fleet {
struct FleetConfig;
}

namespace quorlan::station {

class FleetLink {
 public:
  // Before the station starts, so that every change from then on has its
  // outbox row. Throws ConfigError for a [fleet] it cannot use.
  FleetLink(Station& station, const fleet::FleetConfig& config);
  // Stops, and the journal feeds the outbox no more.
  ~FleetLink();
  FleetLink(const FleetLink&) = delete;
  FleetLink& operator=(const FleetLink&) = delete;

  void Start();
  // Says "offline" and ends the session; unconfirmed rows wait for the next start.
  void Stop();

 private:
  void OnEvent(const StoredEvent& event);
  nlohmann::json ApplyPrices(const nlohmann::json& prices);

  Station& station_;
  FleetOutbox outbox_;
  // The publisher's own connection: it marks rows sent and confirmed.
  sql::Database connection_;
  fleet::StationSql sql_;
  std::unique_ptr<fleet::CommandReceiver> commands_;
  std::unique_ptr<fleet::Publisher> publisher_;
};

}  // namespace quorlan::station
