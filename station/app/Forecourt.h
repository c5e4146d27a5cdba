// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station's own use cases at the dispensers: authorize, stop one or
// all, read a nozzle's totals, change the price book. Each queues its
// command on the line's worker and waits for the answer; a command the line
// does not take within kCommandWait ends Unavailable.

#include <optional>
#include <string>
#include <vector>

#include "station/app/Lines.h"
#include "station/app/Shifts.h"
#include "station/config/Config.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/model/Results.h"

namespace quorlan::station {

class Forecourt {
 public:
  // Authorizations wait for the first shift's opening totals (`shifts`).
  Forecourt(const StationConfig& config, Store& store, EventHub& hub, Lines& lines, Shifts& shifts)
      : config_(config), store_(store), hub_(hub), lines_(lines), shifts_(shifts) {}

  // Refused while the dispenser holds the configured number of unpaid fills.
  // `request`: the idempotent request that asks, kept with the fill.
  CommandResult Authorize(int channel, int dispenser, int grade, FillLimit limit,
                          const std::string& by,
                          const std::optional<std::string>& request = std::nullopt);
  // What became of an authorization that `request` sent and whose answer was
  // not kept (a restart cut it off, or the database refused it): Done with
  // its fill, Refused when it surely did not go out, Unavailable while the
  // dispenser has not told yet.
  CommandResult AuthorizationOutcome(int channel, int dispenser, const std::string& request);
  CommandResult StopDispenser(int channel, int dispenser);
  // Every line at once: each worker takes its stops ahead of anything queued.
  std::vector<StopResult> StopAll();
  CommandResult Totals(int channel, int dispenser, int nozzle);
  // Stores the entries the book does not hold yet, with their event, and
  // sends them to the dispensers; the entries are checked by the caller.
  std::vector<PriceResult> ChangePrices(const std::vector<PriceEntry>& entries);
  // The configuration's starting prices while the book is empty, stored
  // before the lines open: each worker downloads the book as it starts.
  static void TakeStartingPrices(const StationConfig& config, Store& store, EventHub& hub);

 private:
  const StationConfig& config_;
  Store& store_;
  EventHub& hub_;
  Lines& lines_;
  Shifts& shifts_;
};

}  // namespace quorlan::station
