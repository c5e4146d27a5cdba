// SPDX-License-Identifier: Apache-2.0
#include "station/app/Shifts.h"

#include <fmt/format.h>

#include <chrono>
#include <set>

#include "station/base/Instant.h"
#include "station/format/EventData.h"
#include "station/format/JsonViews.h"

namespace quorlan::station {

namespace {

// What a totalizer counts up to before it starts again at zero: ten digits
// of hundredths of a litre, twelve of hundredths of money.
constexpr Totals kTotalizerWrap{10'000'000'000, 1'000'000'000'000};
// How long the first start waits for the dispensers before it reads the
// first shift's opening totals.
constexpr std::chrono::seconds kFirstAnswerWait{30};

}  // namespace

bool Shifts::Begin() {
  const ShiftJournal::OpenShift shift = store_.shifts.Current(FormatUtc(Now()));
  std::lock_guard lock(openingMutex_);
  openingRead_ = !shift.first;
  return shift.first;
}

void Shifts::ReadOpening() {
  // The dispensers answer their first polls before their totals are read.
  const auto deadline = std::chrono::steady_clock::now() + kFirstAnswerWait;
  const auto answered = [this] {
    for (const DispenserView& view : lines_.Views()) {
      // A dispenser that failed to answer counts as tried: its totals will be null.
      if (view.state == DispenserState::Unknown && view.link == Link::Ok) return false;
    }
    return true;
  };
  {
    std::unique_lock lock(openingMutex_);
    while (!stopping_ && !answered() && std::chrono::steady_clock::now() < deadline) {
      openingWake_.wait_for(lock, std::chrono::milliseconds(50));
    }
  }
  std::vector<NozzleReading> opening;
  for (const auto& [nozzle, totals] : ReadTotals()) opening.push_back({nozzle, totals, {}});
  try {
    store_.shifts.SetOpeningTotals(store_.shifts.Current(FormatUtc(Now())).id, opening);
  } catch (const std::exception&) {
    // The shift stays without opening totals: its report shows no difference.
  }
  {
    std::lock_guard lock(openingMutex_);
    openingRead_ = true;
  }
  openingWake_.notify_all();
}

void Shifts::AwaitOpening() {
  std::unique_lock lock(openingMutex_);
  openingWake_.wait(lock, [this] { return openingRead_ || stopping_; });
}

void Shifts::Stop() {
  {
    std::lock_guard lock(openingMutex_);
    stopping_ = true;
  }
  openingWake_.notify_all();
}

std::vector<std::pair<NozzleId, std::optional<Totals>>> Shifts::ReadTotals() {
  // Every exchange is queued before any is awaited, each line's as one set
  // that no other command comes between (its polls go on between the
  // reads), and the lines at once.
  // A dispenser that does not answer its polls now is not asked: its
  // nozzles are unanswered at once, not after a timeout each.
  std::vector<std::pair<NozzleId, std::optional<std::future<CommandResult>>>> pending;
  for (const LineConfig& line : config_.lines) {
    LineWorker* worker = lines_.Line(line.channel);
    std::set<int> answering;
    std::vector<std::pair<int, int>> asked;
    for (int d : line.dispensers) {
      if (!worker->Up() || worker->View(d).link != Link::Ok) continue;
      answering.insert(d);
      for (int n : line.nozzles) asked.emplace_back(d, n);
    }
    auto reads = worker->Totals(asked);
    std::size_t next = 0;
    for (int d : line.dispensers) {
      for (int n : line.nozzles) {
        pending.emplace_back(
            NozzleId{line.channel, d, n},
            answering.count(d) ? std::optional(std::move(reads[next++])) : std::nullopt);
      }
    }
  }
  std::vector<std::pair<NozzleId, std::optional<Totals>>> readings;
  for (auto& [nozzle, future] : pending) {
    if (!future) {
      readings.emplace_back(nozzle, std::nullopt);
      continue;
    }
    const CommandResult result = Await(std::move(*future));
    const auto* totals = std::get_if<TotalsReading>(&result.body);
    readings.emplace_back(nozzle,
                          result.outcome == Outcome::Done && totals
                              ? std::optional<Totals>(Totals{totals->volume, totals->amount})
                              : std::nullopt);
  }
  return readings;
}

ShiftReport Shifts::Close(const std::string& caller) {
  std::unique_lock lock(closeMutex_);
  AwaitOpening();
  ShiftJournal::Closing closing;
  for (const auto& [nozzle, totals] : ReadTotals()) {
    closing.readings.push_back({nozzle, std::nullopt, totals});
  }
  closing.shift = store_.shifts.Current(FormatUtc(Now())).id;
  closing.closedAt = FormatUtc(Now());
  closing.closedBy = caller;
  ShiftReport report;
  hub_.PublishCommitted(kShiftEvent, "", [&](StoredEvent& event) {
    store_.shifts.Close(
        closing,
        [&](const ShiftInput& stored) {
          // The journal keeps UTC; the report is read by people in the station's zone.
          ShiftInput input = stored;
          input.openedAt = ZonedText(stored.openedAt);
          input.closedAt = ZonedText(closing.closedAt);
          input.closedBy = caller;
          input.currency = config_.currency;
          for (const GradeConfig& grade : config_.grades)
            input.gradeNames[grade.number] = grade.name;
          input.wrap = kTotalizerWrap;
          report = BuildShiftReport(input);
          return ShiftReportJson(report).dump();
        },
        event);
    return true;
  });
  for (const NozzleBalance& balance : Discrepancies(report)) {
    hub_.Publish(
        kAlarmEvent,
        AlarmEventData(
            kDiscrepancyAlarm, balance.nozzle.channel, balance.nozzle.dispenser, std::nullopt,
            fmt::format("shift {}: nozzle {} differs from the journal by "
                        "{:.2f} litres and {:.2f} money",
                        report.id, balance.nozzle.nozzle, FromCents(balance.difference->volume),
                        FromCents(balance.difference->amount))));
  }
  return report;
}

std::string Shifts::ZonedText(const std::string& utc) const {
  const std::optional<Instant> instant = ParseRfc3339(utc);
  return instant ? zone_.Format(*instant) : utc;
}

}  // namespace quorlan::station
