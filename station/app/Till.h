// SPDX-License-Identifier: Apache-2.0
#pragma once
// The till's use cases: lock, unlock and clear a fill (one decision at a
// time, each change journaled and announced), the locks that lapse by
// themselves, and the drive-off alarm of a fill unpaid too long.

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "station/app/Lines.h"
#include "station/base/Instant.h"
#include "station/config/Config.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/model/Results.h"

namespace quorlan::station {

class Till {
 public:
  Till(const StationConfig& config, Store& store, EventHub& hub, Lines& lines)
      : config_(config), store_(store), hub_(hub), lines_(lines) {}

  Settled Lock(std::int64_t fill, const std::string& caller);
  Settled Unlock(std::int64_t fill, const std::string& caller, bool admin);
  Settled Clear(std::int64_t fill, const std::string& caller,
                const std::optional<std::string>& reference);
  // Frees every lock that lapsed by `now`, each announced with its fill
  // event; the fills freed.
  std::vector<FillRecord> ReleaseLapsedLocks(Instant now);
  // An alarm, once, for each completed fill unpaid longer than configured.
  void RaiseDriveOffs();

 private:
  Settled Settle(std::int64_t id, const std::function<SettlementResult(const FillRecord&)>& rule);

  const StationConfig& config_;
  Store& store_;
  EventHub& hub_;
  Lines& lines_;
  std::mutex settleMutex_;           // one settlement decision at a time
  std::set<std::int64_t> droveOff_;  // fills whose drive-off was announced
};

}  // namespace quorlan::station
