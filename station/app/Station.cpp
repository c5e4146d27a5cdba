#include "station/app/Station.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "quorlan/SerialTransport.h"
#include "sim/SimDispatcher.h"
#include "station/app/LockLapse.h"
#include "station/base/Log.h"
#include "station/format/EventData.h"
#include "station/format/JsonViews.h"

namespace quorlan::station {

namespace {

// What a totalizer counts up to before it starts again at zero: ten digits
// of hundredths of a litre, twelve of hundredths of money.
constexpr Totals kTotalizerWrap{10'000'000'000, 1'000'000'000'000};
// How often unpaid fills are looked at for drive-offs.
constexpr std::chrono::seconds kDriveOffCheck{5};
// How often for lapsed locks: a till waits at most this long beyond the
// lock's time to see the fill free.
constexpr std::chrono::seconds kLockCheck{1};
// How long the first start waits for the dispensers before it reads the
// first shift's opening totals.
constexpr std::chrono::seconds kFirstAnswerWait{30};

// How often the database is looked at.
constexpr std::chrono::milliseconds kJournalWatch{500};

bool Simulated(const LineConfig& line) {
  return line.port == kSimulatedPort;
}

}  // namespace

Station::Station(const StationConfig& config)
    : config_(config), zone_(Zone::Find(config.timezone)) {
  if (!zone_) {
    throw ConfigError(kExitConfig,
                      config_.file + ": '" + config_.timezone + "' is not a known time zone");
  }
  const bool anySimulated = std::any_of(config_.lines.begin(), config_.lines.end(), Simulated);
  const bool allSimulated = std::all_of(config_.lines.begin(), config_.lines.end(), Simulated);
  if (anySimulated && !allSimulated) {
    // One driver serves every line through one transport.
    throw ConfigError(kExitConfig, config_.file + ": simulated and serial lines cannot be mixed");
  }
  try {
    store_ = std::make_unique<Store>(config_.database);
  } catch (const sql::Error& error) {
    throw ConfigError(kExitConfig, config_.database + ": " + error.what());
  }
  hub_ = std::make_unique<EventHub>(store_->events);
  TakeStartingPrices();

  Transport* transport = nullptr;
  if (allSimulated) {
    simulated_ = std::make_unique<sim::SimDispatcher>();
    transport = simulated_.get();
  } else {
    serial_ = std::make_unique<serial::SerialDispatcher>();
    transport = serial_.get();
  }
  DriverOptions options;
  options.logFile = config_.driverLog;
  options.logLevel = config_.driverLogLevel;
  driver_ = std::make_unique<Driver>(*transport, options);

  for (const LineConfig& line : config_.lines) {
    std::function<std::string()> problem = [] { return std::string(); };
    if (simulated_) {
      sim::LineOptions simOptions;
      simOptions.dispensers = *std::max_element(line.dispensers.begin(), line.dispensers.end());
      simOptions.autoNozzle = true;
      simulated_->Attach(line.channel, std::make_shared<sim::Line>(simOptions));
    } else {
      serial_->MapChannel(line.channel, line.port);
      serial_->SetEcho(line.channel, line.echo);
      if (!line.capture.empty()) {
        auto& capture = captures_[line.channel];
        capture = std::make_unique<LineCapture>(line.channel, line.capture, line.captureRotation,
                                                [](const std::string& text) { LogLine(text); });
        serial_->SetRecorder(line.channel, [&sink = *capture](bool sent, auto bytes, auto at) {
          sink.Record(sent, bytes, at);
        });
      }
      problem = [this, channel = line.channel] { return serial_->LineProblem(channel); };
    }
    driver_->OpenLine(static_cast<quorlan::Channel>(line.channel));
    if (const std::string why = problem(); !why.empty()) {
      const std::string where =
          line.portLine > 0 ? fmt::format("{}:{}: ", config_.file, line.portLine) : "";
      throw ConfigError(kExitPort, where + "cannot open the port: " + why);
    }
    workers_[line.channel] =
        std::make_unique<LineWorker>(*driver_, line, *store_, *hub_, std::move(problem));
  }
}

Station::~Station() {
  Stop();
}

void Station::TakeStartingPrices() {
  // A book once stored is the admin's: a restart never brings back the
  // file's prices.
  if (config_.startingPrices.empty() || !store_->prices.All().empty()) return;
  std::vector<PriceEntry> book;
  for (const StartingPrice& price : config_.startingPrices) {
    book.push_back({price.channel, price.dispenser, price.grade, price.price});
  }
  // No worker runs yet: the book is only stored, and each worker downloads
  // it as it starts.
  ChangePrices(book);
}

void Station::Start() {
  for (auto& [channel, worker] : workers_) worker->Start();
  watching_ = true;
  watch_ = std::thread([this] { WatchJournal(); });
  const ShiftJournal::OpenShift shift = store_->shifts.Current(FormatUtc(Now()));
  openingRead_ = !shift.first;
  keeper_ = std::thread([this, first = shift.first] { Keep(first); });
}

void Station::Stop() {
  {
    std::lock_guard lock(watchMutex_);
    watching_ = false;
  }
  watchWake_.notify_all();
  if (watch_.joinable()) watch_.join();
  {
    std::lock_guard lock(keeperMutex_);
    keeperStop_ = true;
  }
  keeperWake_.notify_all();
  if (keeper_.joinable()) keeper_.join();
  for (auto& [channel, worker] : workers_) worker->Stop();
  if (hub_) hub_->Close();
}

void Station::WatchJournal() {
  std::string said;
  std::unique_lock lock(watchMutex_);
  while (watching_) {
    lock.unlock();
    const std::string problem = store_->database.Check();
    if (store_->database.TakeReopened()) Log("database: opened anew at {}", config_.database);
    if (problem != said) {
      if (!problem.empty()) {
        Log("database: {}; new authorizations are refused until it can be written", problem);
        hub_->Publish(kAlarmEvent, AlarmEventData(kDatabaseAlarm, 0, 0, 0, problem));
      } else {
        Log("database: written again");
      }
      said = problem;
    }
    lock.lock();
    watchWake_.wait_for(lock, kJournalWatch, [this] { return !watching_; });
  }
}

LineWorker* Station::Line(int channel) {
  const auto at = workers_.find(channel);
  return at == workers_.end() ? nullptr : at->second.get();
}

std::vector<LineWorker*> Station::Lines() {
  std::vector<LineWorker*> lines;
  for (auto& [channel, worker] : workers_) lines.push_back(worker.get());
  return lines;
}

std::uint64_t Station::Heartbeat() const {
  std::uint64_t sum = 0;
  for (const auto& [channel, worker] : workers_) sum += worker->Heartbeat();
  return sum;
}

namespace {

CommandResult Await(std::future<CommandResult> future) {
  if (future.wait_for(kCommandWait) != std::future_status::ready) {
    return {Outcome::Unavailable, "the line did not take the command in time", {}};
  }
  return future.get();
}

}  // namespace

bool Station::Has(int channel, int dispenser) {
  const LineWorker* line = Line(channel);
  return line && line->Has(dispenser);
}

std::vector<DispenserView> Station::Views() {
  std::vector<DispenserView> all;
  for (LineWorker* line : Lines()) {
    for (const auto& view : line->Views()) all.push_back(view);
  }
  return all;
}

CommandResult Station::Authorize(int channel, int dispenser, int grade, FillLimit limit,
                                 const std::string& by, const std::optional<std::string>& request) {
  // Counted before any wait: a stop that comes meanwhile cancels this one.
  const std::uint64_t stops = Line(channel)->Stops(dispenser);
  AwaitOpening();
  if (config_.unpaidLimit > 0) {
    const auto unpaid = store_->settlement.UnpaidFills(channel, dispenser);
    if (static_cast<int>(unpaid.size()) >= config_.unpaidLimit) {
      return {Outcome::Refused,
              fmt::format("dispenser {}/{} holds {} unpaid fills ({}): clear one first", channel,
                          dispenser, unpaid.size(), fmt::join(unpaid, ", ")),
              {}};
    }
  }
  return Await(Line(channel)->Authorize(dispenser, grade, limit, by, stops, request));
}

CommandResult Station::AuthorizationOutcome(int channel, int dispenser,
                                            const std::string& request) {
  // The lines have taken the rows an earlier run left open first.
  AwaitOpening();
  const std::string where = fmt::format("dispenser {}/{}", channel, dispenser);
  const auto fill = store_->fills.OfRequest(request);
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
  DispenserView view = Line(channel)->View(dispenser);
  view.fill = fill->Shown();
  return {Outcome::Done, "", view};
}

CommandResult Station::StopDispenser(int channel, int dispenser) {
  return Await(Line(channel)->StopDispenser(dispenser));
}

std::vector<StopResult> Station::StopAll() {
  std::vector<std::pair<LineWorker*, std::future<CommandResult>>> pending;
  for (LineWorker* line : Lines()) pending.emplace_back(line, line->StopAll());
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

CommandResult Station::Totals(int channel, int dispenser, int nozzle) {
  return Await(std::move(Line(channel)->Totals({{dispenser, nozzle}}).front()));
}

std::vector<PriceResult> Station::ChangePrices(const std::vector<PriceEntry>& entries) {
  const auto book = store_->prices.All();
  std::vector<PriceEntry> changed;
  for (const auto& entry : entries) {
    if (std::find(book.begin(), book.end(), entry) == book.end()) changed.push_back(entry);
  }
  std::vector<PriceResult> results;
  if (changed.empty()) return results;
  hub_->PublishCommitted(kPricesEvent, PricesEventData(changed), [&](const StoredEvent& event) {
    store_->prices.Save(changed, event);
    return true;
  });
  std::map<int, std::set<int>> dispensers;
  for (const auto& entry : changed) dispensers[entry.channel].insert(entry.dispenser);
  std::vector<std::future<CommandResult>> pending;
  for (const auto& [channel, set] : dispensers) {
    if (LineWorker* line = Line(channel))
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

Station::Settled Station::Settle(std::int64_t id,
                                 const std::function<SettlementResult(const FillRecord&)>& rule) {
  std::lock_guard lock(settleMutex_);
  std::optional<FillRecord> fill = store_->settlement.Settleable(id);
  if (!fill) return {};
  const SettlementResult result = rule(*fill);
  if (result.refusal) {
    return {fill, result.refusal, RefusalDetail(*result.refusal, id, fill->settlement)};
  }
  fill->settlement = result.settlement;
  if (!result.changed) return {fill, std::nullopt, ""};
  hub_->PublishCommitted(kFillEvent, FillEventData(*fill), [&](const StoredEvent& event) {
    store_->settlement.Write(*fill, event);
    return true;
  });
  if (LineWorker* line = Line(fill->channel)) line->Refresh(fill->dispenser);
  return {fill, std::nullopt, ""};
}

Station::Settled Station::Lock(std::int64_t fill, const std::string& caller) {
  return Settle(fill, [&](const FillRecord& record) {
    return station::Lock(SettlementJournal::Stage(record), record.settlement, caller, Now());
  });
}

Station::Settled Station::Unlock(std::int64_t fill, const std::string& caller, bool admin) {
  return Settle(fill, [&](const FillRecord& record) {
    return station::Unlock(record.settlement, caller, admin, Now());
  });
}

Station::Settled Station::Clear(std::int64_t fill, const std::string& caller,
                                const std::optional<std::string>& reference) {
  return Settle(fill, [&](const FillRecord& record) {
    return station::Clear(SettlementJournal::Stage(record), record.settlement, caller, reference,
                          Now());
  });
}

SessionView Station::Session(const std::string& name, Role role) const {
  SessionView session{name, role, config_.currency, zone_->Name(), config_.grades};
  std::sort(session.grades.begin(), session.grades.end(),
            [](const GradeConfig& a, const GradeConfig& b) { return a.number < b.number; });
  return session;
}

std::vector<FillRecord> Station::Fills(const FillQuery& query) {
  return store_->fills.Find(query);
}

std::vector<std::pair<NozzleId, std::optional<station::Totals>>> Station::ReadTotals() {
  // Every exchange is queued before any is awaited, each line's as one set
  // that no other command comes between (its polls go on between the
  // reads), and the lines at once.
  // A dispenser that does not answer its polls now is not asked: its
  // nozzles are unanswered at once, not after a timeout each.
  std::vector<std::pair<NozzleId, std::optional<std::future<CommandResult>>>> pending;
  for (const LineConfig& line : config_.lines) {
    LineWorker* worker = Line(line.channel);
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
  std::vector<std::pair<NozzleId, std::optional<station::Totals>>> readings;
  for (auto& [nozzle, future] : pending) {
    if (!future) {
      readings.emplace_back(nozzle, std::nullopt);
      continue;
    }
    const CommandResult result = Await(std::move(*future));
    const auto* totals = std::get_if<TotalsReading>(&result.body);
    readings.emplace_back(nozzle, result.outcome == Outcome::Done && totals
                                      ? std::optional<station::Totals>(
                                            station::Totals{totals->volume, totals->amount})
                                      : std::nullopt);
  }
  return readings;
}

std::string Station::CloseShift(const std::string& caller) {
  std::unique_lock lock(shiftMutex_);
  AwaitOpening();
  ShiftJournal::Closing closing;
  for (const auto& [nozzle, totals] : ReadTotals()) {
    closing.readings.push_back({nozzle, std::nullopt, totals});
  }
  closing.shift = store_->shifts.Current(FormatUtc(Now())).id;
  closing.closedAt = FormatUtc(Now());
  closing.closedBy = caller;
  ShiftReport report;
  std::string text;
  hub_->PublishCommitted(kShiftEvent, "", [&](StoredEvent& event) {
    text = store_->shifts.Close(
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
    hub_->Publish(
        kAlarmEvent,
        AlarmEventData(
            kDiscrepancyAlarm, balance.nozzle.channel, balance.nozzle.dispenser, std::nullopt,
            fmt::format("shift {}: nozzle {} differs from the journal by "
                        "{:.2f} litres and {:.2f} money",
                        report.id, balance.nozzle.nozzle, FromCents(balance.difference->volume),
                        FromCents(balance.difference->amount))));
  }
  return text;
}

std::string Station::ZonedText(const std::string& utc) const {
  const std::optional<Instant> instant = ParseRfc3339(utc);
  return instant ? zone_->Format(*instant) : utc;
}

void Station::AwaitOpening() {
  // A sale before them would be counted in the journal and half in the
  // totals; a close before them would have nothing to compare with.
  std::unique_lock keeper(keeperMutex_);
  keeperWake_.wait(keeper, [this] { return openingRead_ || keeperStop_; });
}

void Station::Keep(bool openingTotals) {
  if (openingTotals) {
    // The dispensers answer their first polls before their totals are read.
    const auto deadline = std::chrono::steady_clock::now() + kFirstAnswerWait;
    const auto answered = [this] {
      for (const DispenserView& view : Views()) {
        // A dispenser that failed to answer counts as tried: its totals will be null.
        if (view.state == DispenserState::Unknown && view.link == Link::Ok) return false;
      }
      return true;
    };
    {
      std::unique_lock lock(keeperMutex_);
      while (!keeperStop_ && !answered() && std::chrono::steady_clock::now() < deadline) {
        keeperWake_.wait_for(lock, std::chrono::milliseconds(50));
      }
    }
    std::vector<NozzleReading> opening;
    for (const auto& [nozzle, totals] : ReadTotals()) opening.push_back({nozzle, totals, {}});
    try {
      store_->shifts.SetOpeningTotals(store_->shifts.Current(FormatUtc(Now())).id, opening);
    } catch (const std::exception&) {
      // The shift stays without opening totals: its report shows no difference.
    }
    {
      std::lock_guard lock(keeperMutex_);
      openingRead_ = true;
    }
    keeperWake_.notify_all();
  }
  const bool driveOffs = config_.driveOffAfter.count() > 0;
  auto nextDriveOffs = std::chrono::steady_clock::now();
  std::unique_lock lock(keeperMutex_);
  while (!keeperStop_) {
    lock.unlock();
    // Each is tried again at its next check.
    try {
      ReleaseLapsedLocks(Now());
    } catch (const std::exception&) {
    }
    if (driveOffs && std::chrono::steady_clock::now() >= nextDriveOffs) {
      try {
        RaiseDriveOffs();
      } catch (const std::exception&) {
      }
      nextDriveOffs = std::chrono::steady_clock::now() + kDriveOffCheck;
    }
    lock.lock();
    keeperWake_.wait_for(lock, kLockCheck, [this] { return keeperStop_; });
  }
}

std::vector<FillRecord> Station::ReleaseLapsedLocks(Instant now) {
  std::lock_guard lock(settleMutex_);
  std::vector<FillRecord> released = station::ReleaseLapsedLocks(*store_, *hub_, now);
  for (const FillRecord& fill : released) {
    if (LineWorker* line = Line(fill.channel)) line->Refresh(fill.dispenser);
  }
  return released;
}

void Station::RaiseDriveOffs() {
  const std::string cutoff = FormatUtc(Now() - config_.driveOffAfter);
  for (const FillRecord& fill : store_->settlement.UnpaidBefore(cutoff, 0)) {
    if (!droveOff_.insert(fill.id).second) continue;
    hub_->Publish(kAlarmEvent, AlarmEventData(kDriveOffAlarm, fill.channel, fill.dispenser, fill.id,
                                              fmt::format("fill {} ({:.2f}) is unpaid since {}",
                                                          fill.id, FromCents(fill.amount),
                                                          fill.finishedAt.value_or(""))));
  }
}

}  // namespace quorlan::station
