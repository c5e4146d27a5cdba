// SPDX-License-Identifier: Apache-2.0
#include "station/line/FillTracker.h"

#include "station/base/Clock.h"
#include "station/base/Log.h"
#include "station/format/EventData.h"
#include "station/model/Charge.h"

namespace quorlan::station {

FillTracker::FillTracker(Driver& driver, LineGate& gate, Store& store, EventHub& hub,
                         const PriceSync& prices, int channel, const std::vector<int>& dispensers)
    : driver_(driver), gate_(gate), store_(store), hub_(hub), prices_(prices), channel_(channel) {
  for (int d : dispensers) tracked_[d] = Tracked{};
}

std::vector<int> FillTracker::Reconcile() {
  for (const FillRecord& fill : store_.fills.OpenOn(channel_)) {
    auto at = tracked_.find(fill.dispenser);
    if (at == tracked_.end()) {
      Log("fill {} is open on dispenser {}/{}, which is not configured", fill.id, fill.channel,
          fill.dispenser);
      continue;
    }
    at->second = Tracked{};
    at->second.fill = fill;
    at->second.reconciling = true;
    at->second.totalsBefore = store_.fills.TotalsBefore(fill.id);
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

std::map<int, NozzleCounters> FillTracker::ReadTotals(int dispenser,
                                                      const std::vector<int>& nozzles) {
  std::map<int, NozzleCounters> totals;
  for (int nozzle : nozzles) {
    try {
      const auto turn = gate_.Take();
      const Reading reading =
          driver_.Totals(static_cast<quorlan::Channel>(channel_),
                         static_cast<quorlan::Dispenser>(dispenser), static_cast<Nozzle>(nozzle));
      totals[nozzle] = {RoundCents(reading.volume), RoundCents(reading.amount)};
    } catch (const std::exception&) {
      break;  // a dispenser that does not answer now will not for the next nozzle either
    }
  }
  return totals;
}

FillRecord FillTracker::Pending(int channel, int dispenser, int grade, Cents price, FillLimit limit,
                                const std::string& by, const DispenserView& shown,
                                const std::optional<std::string>& request) {
  FillRecord pending;
  pending.channel = channel;
  pending.dispenser = dispenser;
  if (limit.kind == FillLimit::Kind::None) {
    // A plain authorization carries no grade on the line: the nozzle the
    // customer lifts decides it.
    pending.requestedGrade = grade;
  } else {
    pending.grade = grade;
    pending.price = price;
  }
  pending.limit = limit;
  pending.authorizedBy = by;
  pending.request = request;
  pending.authorizedAt = NowUtc();
  pending.shownVolume = shown.volume;
  pending.shownAmount = shown.amount;
  return pending;
}

const FillRecord& FillTracker::Begin(FillRecord fill, std::map<int, NozzleCounters> totals) {
  fill.status = FillStatus::Pending;
  fill.id = store_.fills.Insert(fill, totals);
  Tracked& tracked = tracked_[fill.dispenser];
  tracked = Tracked{};
  tracked.fill = fill;
  tracked.totalsBefore = std::move(totals);
  return *tracked.fill;
}

void FillTracker::Acknowledge(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  tracked.fill->status = FillStatus::Open;
  tracked.unsavedAck = true;
  SaveAcknowledgement(tracked);
}

bool FillTracker::SaveAcknowledgement(Tracked& tracked) {
  const FillRecord& fill = *tracked.fill;
  try {
    store_.fills.Acknowledge(fill.id, fill.authorizedAt.value_or(NowUtc()));
    tracked.unsavedAck = false;
    return true;
  } catch (const std::exception& error) {
    // Its row stays pending meanwhile; a restart settles such a row from
    // what the dispenser shows.
    Log("fill {}: the dispenser took its authorization; the journal will record that once it "
        "can: {}",
        fill.id, error.what());
    return false;
  }
}

void FillTracker::Abandon(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  store_.fills.Delete(tracked.fill->id);
  tracked.fill.reset();
}

bool FillTracker::LearnNozzle(int dispenser, int nozzle) {
  FillRecord& fill = *tracked_[dispenser].fill;
  if (nozzle <= 0 || nozzle == fill.nozzle) return false;
  fill.nozzle = nozzle;
  // Nozzle n sells grade n. A preset on that grade keeps the price its
  // authorization carried; any other sells at what the dispenser holds.
  const bool preset = fill.limit.kind != FillLimit::Kind::None;
  if (!(preset && fill.grade == nozzle && fill.price)) {
    fill.grade = nozzle;
    fill.price = prices_.Charged(dispenser, nozzle);
  }
  return true;
}

FillTracker::Change FillTracker::Track(int dispenser, const Status& status, Cents volume,
                                       Cents amount) {
  Tracked& tracked = tracked_[dispenser];
  if (tracked.fill && tracked.unsavedAck) SaveAcknowledgement(tracked);
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
        fill.status = FillStatus::Open;
        fill.id = store_.fills.Insert(fill);
        tracked = Tracked{};
        tracked.fill = fill;
        change = Change::Opened;
      } else if (tracked.fill->status == FillStatus::Pending) {
        // The authorization did reach the dispenser.
        store_.fills.Acknowledge(tracked.fill->id, tracked.fill->authorizedAt.value_or(NowUtc()));
        tracked.fill->status = FillStatus::Open;
      }
      bool learned = LearnNozzle(dispenser, status.nozzle);
      if (status.state != DispenserState::Authorized && !tracked.fill->filling) {
        tracked.fill->filling = true;
        learned = true;
      }
      // Stored before anyone sees it, so that a kill cannot lose it.
      if (learned) store_.fills.UpdateOpen(*tracked.fill);
      if (status.state != DispenserState::Authorized && volume >= tracked.lastVolume) {
        tracked.lastVolume = volume;
        tracked.lastAmount = amount;
      }
      // From here on the fill ends as any other.
      tracked.reconciling = false;
      return change == Change::None && learned ? Change::Changed : change;
    }
    case DispenserState::Finished: {
      if (!tracked.fill) return Change::None;
      Reading reading;
      {
        const auto turn = gate_.Take();
        reading = driver_.Transaction(static_cast<quorlan::Channel>(channel_),
                                      static_cast<quorlan::Dispenser>(dispenser));
      }
      const Cents readVolume = RoundCents(reading.volume);
      if (tracked.fill->filling && readVolume < tracked.lastVolume) {
        SettleLost(dispenser);
      } else {
        Complete(dispenser, readVolume, RoundCents(reading.amount), SettledFrom::Readout);
      }
      return Change::Ended;
    }
    case DispenserState::Idle: {
      if (!tracked.fill) return Change::None;
      const FillRecord& fill = *tracked.fill;
      // Authorizing zeroes the display: once the dispenser took the
      // authorization any volume is this fill's, also when its end passed
      // unseen. Before that, only a display other than the one shown then.
      const bool fuel = volume > 0 && (fill.status == FillStatus::Open || fill.filling ||
                                       volume != fill.shownVolume || amount != fill.shownAmount);
      if (fill.filling && volume < tracked.lastVolume) {
        SettleLost(dispenser);
      } else if (fuel) {
        Complete(dispenser, volume, amount, SettledFrom::Readout);
      } else {
        CloseWithoutFuel(dispenser);
      }
      return Change::Ended;
    }
    case DispenserState::NoPrices:
      // Powered up: the display and any authorization are gone.
      if (!tracked.fill) return Change::None;
      if (tracked.fill->filling) {
        SettleLost(dispenser);
      } else {
        CloseWithoutFuel(dispenser);
      }
      return Change::Ended;
    default:
      return Change::None;
  }
}

void FillTracker::SettleLost(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  const FillRecord& fill = *tracked.fill;
  const auto before = tracked.totalsBefore.find(fill.nozzle);
  if (before != tracked.totalsBefore.end()) {
    const auto now = ReadTotals(dispenser, {fill.nozzle});
    if (const auto at = now.find(fill.nozzle); at != now.end()) {
      const Cents volume = at->second.volume - before->second.volume;
      const Cents amount = at->second.amount - before->second.amount;
      // Totals that did not grow by what was seen do not count this fill.
      if (volume > 0 && volume >= tracked.lastVolume && amount >= tracked.lastAmount) {
        return Complete(dispenser, volume, amount, SettledFrom::Totals);
      }
    }
  }
  if (tracked.lastVolume == 0) return CloseWithoutFuel(dispenser);  // no fuel was ever seen
  Complete(dispenser, tracked.lastVolume, tracked.lastAmount, SettledFrom::LastSeen);
}

void FillTracker::NozzleFromTotals(int dispenser, Cents volume) {
  Tracked& tracked = tracked_[dispenser];
  std::string reason;
  if (tracked.totalsBefore.empty()) {
    reason = "no nozzle's totals were read before it";
  } else {
    std::vector<int> nozzles;
    for (const auto& [nozzle, before] : tracked.totalsBefore) nozzles.push_back(nozzle);
    const auto now = ReadTotals(dispenser, nozzles);
    std::vector<int> moved;
    for (const auto& [nozzle, before] : tracked.totalsBefore) {
      const auto at = now.find(nozzle);
      if (at == now.end()) {
        reason = fmt::format("nozzle {} did not give its totals", nozzle);
      } else if (at->second.volume - before.volume == volume) {
        moved.push_back(nozzle);
      }
    }
    // Only one nozzle whose totals grew by exactly the fill tells it for sure.
    if (reason.empty() && moved.size() == 1) {
      LearnNozzle(dispenser, moved.front());
      return;
    }
    if (reason.empty()) {
      reason = moved.empty() ? "no nozzle's totals grew by its volume"
                             : "more than one nozzle's totals grew by its volume";
    }
  }
  Log("fill {} on dispenser {}/{}: its nozzle stays unknown: {}", tracked.fill->id, channel_,
      dispenser, reason);
}

void FillTracker::Complete(int dispenser, Cents volume, Cents amount, SettledFrom from) {
  Tracked& tracked = tracked_[dispenser];
  // A fill that ended unseen (the service was away) never showed its nozzle.
  if (tracked.fill->nozzle <= 0 && volume > 0) NozzleFromTotals(dispenser, volume);
  FillRecord fill = *tracked.fill;
  fill.volume = volume;
  fill.amount = amount;
  fill.finishedAt = NowUtc();
  fill.recovered = tracked.reconciling;
  fill.status = FillStatus::Done;
  fill.settledFrom = from;
  if (!fill.grade && fill.nozzle >= 1 && fill.nozzle <= kLastGrade) {
    fill.grade = fill.nozzle;
    fill.price = prices_.Charged(dispenser, fill.nozzle);
  }
  // Journaled as read, whatever it says; the alarm tells.
  fill.mismatch = fill.price && !AmountAgrees(*fill.price, volume, amount);
  const bool stored = hub_.PublishCommitted(
      kFillEvent, FillEventData(fill),
      [&](const StoredEvent& event) { return store_.fills.End(fill, event); });
  if (!stored) {
    Log("fill {} was already completed", fill.id);
  } else {
    if (fill.mismatch) {
      Alarm(fill, kMismatchAlarm,
            fmt::format("fill {}: amount {:.2f} is not price {:.2f} x volume {:.2f}", fill.id,
                        FromCents(amount), FromCents(*fill.price), FromCents(volume)));
    }
    if (from == SettledFrom::LastSeen) {
      Alarm(fill, kReadoutAlarm,
            fmt::format("fill {}: the dispenser lost its display and the nozzle's totals could "
                        "not settle it; journaled with the last figures seen",
                        fill.id));
    }
  }
  Forget(dispenser);
}

void FillTracker::CloseWithoutFuel(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  if (tracked.fill->status == FillStatus::Pending) {
    store_.fills.Delete(tracked.fill->id);
  } else {
    // Kept, and announced like a completed one.
    FillRecord fill = *tracked.fill;
    fill.volume = 0;
    fill.amount = 0;
    fill.finishedAt = NowUtc();
    fill.recovered = tracked.reconciling;
    fill.status = FillStatus::Cancelled;
    hub_.PublishCommitted(kFillEvent, FillEventData(fill),
                          [&](const StoredEvent& event) { return store_.fills.End(fill, event); });
  }
  Forget(dispenser);
}

void FillTracker::Alarm(const FillRecord& fill, const std::string& kind,
                        const std::string& detail) {
  Log("alarm: dispenser {}/{}: {}", fill.channel, fill.dispenser, detail);
  hub_.Publish(kAlarmEvent, AlarmEventData(kind, fill.channel, fill.dispenser, fill.id, detail));
}

void FillTracker::Forget(int dispenser) {
  tracked_[dispenser] = Tracked{};
}

}  // namespace quorlan::station
