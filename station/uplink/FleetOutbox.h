// SPDX-License-Identifier: Apache-2.0
#pragma once
// Head office's outbox as the journal's feed: each fill change and closed
// shift gets its outbox row in the transaction that stores it, versioned by
// that row's seq, so head office keeps every state once and knows the latest.

#include "station/journal/ChangeFeed.h"
#include "station/journal/Store.h"
#include "station/model/Records.h"

namespace quorlan::station {

class FleetOutbox : public ChangeFeed {
 public:
  void Prepare(sql::Database& db) override;
  void Fill(sql::Database& db, const FillRecord& fill) override;
  void Shift(sql::Database& db, std::int64_t shift, const std::string& report) override;

  // An alarm keeps no row of its own in the journal: its outbox row is the
  // record, in a transaction of its own, identified by the event's id.
  static void Alarm(Store& store, const StoredEvent& event);
};

}  // namespace quorlan::station
