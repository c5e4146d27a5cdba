// SPDX-License-Identifier: Apache-2.0
#include "station/app/Till.h"

#include <fmt/format.h>

#include "station/app/LockLapse.h"
#include "station/format/EventData.h"

namespace quorlan::station {

Settled Till::Settle(std::int64_t id,
                     const std::function<SettlementResult(const FillRecord&)>& rule) {
  std::lock_guard lock(settleMutex_);
  std::optional<FillRecord> fill = store_.settlement.Settleable(id);
  if (!fill) return {};
  const SettlementResult result = rule(*fill);
  if (result.refusal) {
    return {fill, result.refusal, RefusalDetail(*result.refusal, id, fill->settlement)};
  }
  fill->settlement = result.settlement;
  if (!result.changed) return {fill, std::nullopt, ""};
  hub_.PublishCommitted(kFillEvent, FillEventData(*fill), [&](const StoredEvent& event) {
    store_.settlement.Write(*fill, event);
    return true;
  });
  if (LineWorker* line = lines_.Line(fill->channel)) line->Refresh(fill->dispenser);
  return {fill, std::nullopt, ""};
}

Settled Till::Lock(std::int64_t fill, const std::string& caller) {
  return Settle(fill, [&](const FillRecord& record) {
    return station::Lock(SettlementJournal::Stage(record), record.settlement, caller, Now());
  });
}

Settled Till::Unlock(std::int64_t fill, const std::string& caller, bool admin) {
  return Settle(fill, [&](const FillRecord& record) {
    return station::Unlock(record.settlement, caller, admin, Now());
  });
}

Settled Till::Clear(std::int64_t fill, const std::string& caller,
                    const std::optional<std::string>& reference) {
  return Settle(fill, [&](const FillRecord& record) {
    return station::Clear(SettlementJournal::Stage(record), record.settlement, caller, reference,
                          Now());
  });
}

std::vector<FillRecord> Till::ReleaseLapsedLocks(Instant now) {
  std::lock_guard lock(settleMutex_);
  std::vector<FillRecord> released = station::ReleaseLapsedLocks(store_, hub_, now);
  for (const FillRecord& fill : released) {
    if (LineWorker* line = lines_.Line(fill.channel)) line->Refresh(fill.dispenser);
  }
  return released;
}

void Till::RaiseDriveOffs() {
  const std::string cutoff = FormatUtc(Now() - config_.driveOffAfter);
  for (const FillRecord& fill : store_.settlement.UnpaidBefore(cutoff, 0)) {
    if (!droveOff_.insert(fill.id).second) continue;
    hub_.Publish(kAlarmEvent,
                 AlarmEventData(kDriveOffAlarm, fill.channel, fill.dispenser, fill.id,
                                fmt::format("fill {} ({:.2f}) is unpaid since {}", fill.id,
                                            FromCents(fill.amount), fill.finishedAt.value_or(""))));
  }
}

}  // namespace quorlan::station
