// SPDX-License-Identifier: Apache-2.0
#include "station/app/Forecourt.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>

#include "station/format/EventData.h"

namespace quorlan::station {

namespace {

// Stores the entries the book does not hold yet, with their event; the
// entries stored.
std::vector<PriceEntry> StoreChanged(Store& store, EventHub& hub,
                                     const std::vector<PriceEntry>& entries) {
  const auto book = store.prices.All();
  std::vector<PriceEntry> changed;
  for (const auto& entry : entries) {
    if (std::find(book.begin(), book.end(), entry) == book.end()) changed.push_back(entry);
  }
  if (changed.empty()) return changed;
  hub.PublishCommitted(kPricesEvent, PricesEventData(changed), [&](const StoredEvent& event) {
    store.prices.Save(changed, event);
    return true;
  });
  return changed;
}

}  // namespace

CommandResult Forecourt::Authorize(int channel, int dispenser, int grade, FillLimit limit,
                                   const std::string& by,
                                   const std::optional<std::string>& request) {
  // Counted before any wait: a stop that comes meanwhile cancels this one.
  const std::uint64_t stops = lines_.Line(channel)->Stops(dispenser);
  shifts_.AwaitOpening();
  if (config_.unpaidLimit > 0) {
    const auto unpaid = store_.settlement.UnpaidFills(channel, dispenser);
    if (static_cast<int>(unpaid.size()) >= config_.unpaidLimit) {
      return {Outcome::Refused,
              fmt::format("dispenser {}/{} holds {} unpaid fills ({}): clear one first", channel,
                          dispenser, unpaid.size(), fmt::join(unpaid, ", ")),
              {}};
    }
  }
  return Await(lines_.Line(channel)->Authorize(dispenser, grade, limit, by, stops, request));
}

CommandResult Forecourt::AuthorizationOutcome(int channel, int dispenser,
                                              const std::string& request) {
  // The lines have taken the rows an earlier run left open first.
  shifts_.AwaitOpening();
  const std::string where = fmt::format("dispenser {}/{}", channel, dispenser);
  const auto fill = store_.fills.OfRequest(request);
  // The row is written before the authorization goes out, and goes only
  // when it surely did not.
  if (!fill) {
    return {Outcome::Refused,
            where + ": not authorized: this authorization never reached the dispenser",
            {}};
  }
  if (fill->status == FillStatus::Pending) {
    return {Outcome::Unavailable,
            where +
                ": whether this authorization reached the dispenser is not known yet; ask "
                "again",
            {}};
  }
  DispenserView view = lines_.Line(channel)->View(dispenser);
  view.fill = fill->Shown();
  return {Outcome::Done, "", view};
}

CommandResult Forecourt::StopDispenser(int channel, int dispenser) {
  return Await(lines_.Line(channel)->StopDispenser(dispenser));
}

std::vector<StopResult> Forecourt::StopAll() {
  std::vector<std::pair<LineWorker*, std::future<CommandResult>>> pending;
  for (LineWorker* line : lines_.All()) pending.emplace_back(line, line->StopAll());
  std::vector<StopResult> results;
  for (auto& [line, future] : pending) {
    if (future.wait_for(kCommandWait) != std::future_status::ready) {
      results.push_back({line->Channel(), std::nullopt, false, "no answer in time"});
      continue;
    }
    const CommandResult result = future.get();
    if (result.outcome != Outcome::Done) {
      results.push_back({line->Channel(), std::nullopt, false, result.detail});
      continue;
    }
    for (const auto& stop : std::get<std::vector<StopResult>>(result.body)) results.push_back(stop);
  }
  return results;
}

CommandResult Forecourt::Totals(int channel, int dispenser, int nozzle) {
  return Await(std::move(lines_.Line(channel)->Totals({{dispenser, nozzle}}).front()));
}

std::vector<PriceResult> Forecourt::ChangePrices(const std::vector<PriceEntry>& entries) {
  const std::vector<PriceEntry> changed = StoreChanged(store_, hub_, entries);
  std::vector<PriceResult> results;
  if (changed.empty()) return results;
  std::map<int, std::set<int>> dispensers;
  for (const auto& entry : changed) dispensers[entry.channel].insert(entry.dispenser);
  std::vector<std::future<CommandResult>> pending;
  for (const auto& [channel, set] : dispensers) {
    if (LineWorker* line = lines_.Line(channel))
      pending.push_back(line->ApplyPrices({set.begin(), set.end()}));
  }
  for (auto& future : pending) {
    if (future.wait_for(kCommandWait) != std::future_status::ready) continue;
    const CommandResult result = future.get();
    if (const auto* list = std::get_if<std::vector<PriceResult>>(&result.body)) {
      results.insert(results.end(), list->begin(), list->end());
    }
  }
  return results;
}

void Forecourt::TakeStartingPrices(const StationConfig& config, Store& store, EventHub& hub) {
  // A book once stored is the admin's: a restart never brings back the
  // file's prices.
  if (config.startingPrices.empty() || !store.prices.All().empty()) return;
  std::vector<PriceEntry> book;
  for (const StartingPrice& price : config.startingPrices) {
    book.push_back({price.channel, price.dispenser, price.grade, price.price});
  }
  StoreChanged(store, hub, book);
}

}  // namespace quorlan::station
