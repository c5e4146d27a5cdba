// SPDX-License-Identifier: Apache-2.0
#pragma once
// The shift's use cases: the first shift's opening totals, read once the
// dispensers answered, and the close: every configured nozzle's totals
// read, the report stored with the next shift's opening in one transaction
// and announced, then an alarm per nozzle with a difference. Sales and
// closes wait for the opening totals: a sale before them would be counted
// in the journal and half in the totals.

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/app/Lines.h"
#include "station/base/Zone.h"
#include "station/config/Config.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/model/ShiftReport.h"

namespace quorlan::station {

class Shifts {
 public:
  Shifts(const StationConfig& config, const Zone& zone, Store& store, EventHub& hub, Lines& lines)
      : config_(config), zone_(zone), store_(store), hub_(hub), lines_(lines) {}

  // The open shift, opened now at the very first start; true when its
  // opening totals are still to be read (ReadOpening).
  bool Begin();
  // Waits (up to a while) for every dispenser's first answer, then reads
  // and stores the opening totals; gives up at Stop.
  void ReadOpening();
  // Until the opening totals are read, or Stop.
  void AwaitOpening();
  void Stop();

  // The closed shift's report.
  ShiftReport Close(const std::string& caller);

 private:
  // Every configured nozzle's totals, read now; nullopt where one did not answer.
  std::vector<std::pair<NozzleId, std::optional<Totals>>> ReadTotals();
  // A journal stamp as the station's zone reads it.
  std::string ZonedText(const std::string& utc) const;

  const StationConfig& config_;
  const Zone& zone_;
  Store& store_;
  EventHub& hub_;
  Lines& lines_;
  std::mutex closeMutex_;  // one close at a time, never before the opening totals
  std::mutex openingMutex_;
  std::condition_variable openingWake_;
  bool openingRead_ = true;
  bool stopping_ = false;
};

}  // namespace quorlan::station
