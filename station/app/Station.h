// SPDX-License-Identifier: Apache-2.0
#pragma once
// The running station: its journal, its event log and its lines, and its
// use cases by concern: the forecourt's (the dispensers and the book), the
// till's and the shift's. It starts and stops them, and keeps the timers:
// the journal watched, lapsed locks freed, drive-offs raised.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "station/app/Forecourt.h"
#include "station/app/Lines.h"
#include "station/app/Shifts.h"
#include "station/app/Till.h"
#include "station/base/Zone.h"
#include "station/config/Config.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/model/Results.h"

namespace quorlan::station {

class Station {
 public:
  // Opens the database and every line; throws ConfigError (exit 3) for a
  // port that cannot be opened.
  explicit Station(const StationConfig& config);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  void Start();
  // Ends the workers (queued commands are refused) and the event streams.
  void Stop();

  const StationConfig& Config() const { return config_; }
  // The configured zone, or the system's: the zone of reports.
  const Zone& TimeZone() const { return *zone_; }
  Store& Journal() { return *store_; }
  EventHub& Events() { return *hub_; }
  // nullptr for a channel that is not configured.
  LineWorker* Line(int channel) { return lines_->Line(channel); }
  std::vector<LineWorker*> Lines() { return lines_->All(); }
  bool Has(int channel, int dispenser) { return lines_->Has(channel, dispenser); }
  std::vector<DispenserView> Views() { return lines_->Views(); }
  // Sums the workers' heartbeats: it moves while every worker runs.
  std::uint64_t Heartbeat() const { return lines_->Heartbeat(); }

  // The caller's name and role with what the station shows its figures by.
  SessionView Session(const std::string& name, Role role) const;

  // The use cases, each in one place: the HTTP face only parses for them
  // and maps their outcomes.
  station::Forecourt& Forecourt() { return *forecourt_; }
  station::Till& Till() { return *till_; }
  station::Shifts& Shifts() { return *shifts_; }

 private:
  // Looks at the database every little while: a journal that cannot be
  // written is said at once (log, alarm, health), and taken up again when it
  // can be.
  void WatchJournal();
  // The first shift's opening totals, then lapsed locks and drive-off
  // alarms, until Stop.
  void Keep(bool openingTotals);

  StationConfig config_;
  std::optional<Zone> zone_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<EventHub> hub_;
  std::unique_ptr<station::Lines> lines_;
  std::unique_ptr<station::Shifts> shifts_;
  std::unique_ptr<station::Forecourt> forecourt_;
  std::unique_ptr<station::Till> till_;

  std::mutex watchMutex_;
  std::condition_variable watchWake_;
  bool watching_ = false;
  std::thread watch_;

  std::mutex keeperMutex_;
  std::condition_variable keeperWake_;
  bool keeperStop_ = false;
  std::thread keeper_;
};

}  // namespace quorlan::station
