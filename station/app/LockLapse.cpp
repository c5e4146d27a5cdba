// SPDX-License-Identifier: Apache-2.0
#include "station/app/LockLapse.h"

#include "station/format/EventData.h"
#include "station/model/Settlement.h"

namespace quorlan::station {

std::vector<FillRecord> ReleaseLapsedLocks(Store& store, EventHub& hub, Instant now) {
  std::vector<FillRecord> released;
  for (FillRecord fill : store.settlement.LapsedLocks(FormatUtc(now))) {
    fill.settlement = Current(fill.settlement, now);
    hub.PublishCommitted(kFillEvent, FillEventData(fill), [&](const StoredEvent& event) {
      store.settlement.Write(fill, event);
      return true;
    });
    released.push_back(std::move(fill));
  }
  return released;
}

}  // namespace quorlan::station
