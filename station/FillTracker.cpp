// SPDX-License-Identifier: Apache-2.0
#include "station/FillTracker.h"

#include "station/Clock.h"
#include "station/EventData.h"
#include "station/Log.h"

namespace quorlan::station {

FillTracker::FillTracker(Driver& driver, Store& store, EventHub& hub, int channel,
                         const std::vector<int>& dispensers)
    : driver_(driver), store_(store), hub_(hub), channel_(channel) {
  for (int d : dispensers) tracked_[d] = Tracked{};
}

std::vector<int> FillTracker::Reconcile() {
  for (const FillRecord& fill : store_.OpenFills(channel_)) {
    auto at = tracked_.find(fill.dispenser);
    if (at == tracked_.end()) {
      Log("fill {} is open on dispenser {}/{}, which is not configured", fill.id, fill.channel,
          fill.dispenser);
      continue;
    }
    at->second.fill = fill;
    at->second.reconciling = true;
  }
  std::vector<int> open;
  for (const auto& [d, tracked] : tracked_) {
    if (tracked.fill) open.push_back(d);
  }
  return open;
}

const FillRecord* FillTracker::Open(int dispenser) const {
  const auto at = tracked_.find(dispenser);
  return at == tracked_.end() || !at->second.fill ? nullptr : &*at->second.fill;
}

const FillRecord& FillTracker::Begin(FillRecord fill) {
  fill.status = FillStatus::Pending;
  fill.id = store_.InsertFill(fill);
  Tracked& tracked = tracked_[fill.dispenser];
  tracked.fill = fill;
  tracked.sawFuel = false;
  return *tracked.fill;
}

void FillTracker::Acknowledge(int dispenser) {
  FillRecord& fill = *tracked_[dispenser].fill;
  store_.AcknowledgeFill(fill.id, *fill.authorizedAt);
  fill.status = FillStatus::Open;
}

void FillTracker::Abandon(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  store_.DeleteFill(tracked.fill->id);
  tracked.fill.reset();
}

FillTracker::Change FillTracker::Track(int dispenser, const Status& status, Cents volume,
                                       Cents amount) {
  Tracked& tracked = tracked_[dispenser];
  switch (status.state) {
    case DispenserState::Authorized:
    case DispenserState::Filling:
    case DispenserState::Stopped: {
      Change change = Change::None;
      if (!tracked.fill) {
        // Fuel we did not authorize is journaled all the same.
        FillRecord fill;
        fill.channel = channel_;
        fill.dispenser = dispenser;
        fill.nozzle = status.nozzle;
        fill.status = FillStatus::Open;
        fill.id = store_.InsertFill(fill);
        tracked.fill = fill;
        change = Change::Opened;
      } else if (tracked.fill->status == FillStatus::Pending) {
        // The authorization did reach the dispenser.
        store_.AcknowledgeFill(tracked.fill->id, tracked.fill->authorizedAt.value_or(NowUtc()));
        tracked.fill->status = FillStatus::Open;
      }
      if (status.nozzle > 0) tracked.fill->nozzle = status.nozzle;
      if (status.state != DispenserState::Authorized) tracked.sawFuel = true;
      // From here on the fill ends as any other.
      tracked.reconciling = false;
      return change;
    }
    case DispenserState::Finished:
      if (!tracked.fill) return Change::None;
      {
        const Reading reading = driver_.Transaction(static_cast<quorlan::Channel>(channel_),
                                                    static_cast<quorlan::Dispenser>(dispenser));
        Complete(dispenser, RoundCents(reading.volume), RoundCents(reading.amount),
                 tracked.fill->nozzle);
      }
      return Change::Ended;
    case DispenserState::Idle: {
      if (!tracked.fill) return Change::None;
      const FillRecord& fill = *tracked.fill;
      // Authorizing zeroes the display: once the dispenser took the
      // authorization any volume is this fill's, also when its end passed
      // unseen. Before that, only a display other than the one shown then.
      const bool fuel = volume > 0 && (fill.status == FillStatus::Open || tracked.sawFuel ||
                                       volume != fill.shownVolume || amount != fill.shownAmount);
      if (fuel) {
        Complete(dispenser, volume, amount, fill.nozzle);
      } else {
        CloseWithoutFuel(dispenser);
      }
      return Change::Ended;
    }
    default:
      return Change::None;
  }
}

void FillTracker::Complete(int dispenser, Cents volume, Cents amount, int nozzle) {
  Tracked& tracked = tracked_[dispenser];
  FillRecord fill = *tracked.fill;
  fill.volume = volume;
  fill.amount = amount;
  fill.nozzle = nozzle;
  fill.finishedAt = NowUtc();
  fill.recovered = tracked.reconciling;
  fill.status = FillStatus::Done;
  if (!fill.grade && nozzle >= 1 && nozzle <= kLastGrade) {
    // A fill nobody authorized: its grade is the nozzle's, at the book's price.
    fill.grade = nozzle;
    const auto price =
        driver_.Price(static_cast<quorlan::Channel>(channel_),
                      static_cast<quorlan::Dispenser>(dispenser), static_cast<Grade>(nozzle));
    if (price) fill.price = RoundCents(*price);
  }
  const bool stored = hub_.PublishCommitted(
      kFillEvent, FillEventData(fill),
      [&](const StoredEvent& event) { return store_.CompleteFill(fill, event); });
  if (!stored) Log("fill {} was already completed", fill.id);
  Forget(dispenser);
}

void FillTracker::CloseWithoutFuel(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  if (tracked.fill->status == FillStatus::Pending) {
    store_.DeleteFill(tracked.fill->id);
  } else {
    store_.CancelFill(tracked.fill->id);
  }
  Forget(dispenser);
}

void FillTracker::Forget(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  tracked.fill.reset();
  tracked.reconciling = false;
  tracked.sawFuel = false;
}

}  // namespace quorlan::station
