#include "station/LineWorker.h"

#include <fmt/format.h>

#include "station/Clock.h"
#include "station/JsonViews.h"

namespace quorlan::station {

namespace {

// A poll cycle lasts at least this long: the worker waits out the rest for
// a command (which wakes it at once). A real line's poll takes longer, so it
// polls back to back; a simulated line answers at once and would spin.
constexpr std::chrono::milliseconds kShortestPollCycle{10};

constexpr std::string_view kLineDown = "line down";

std::string LinkReason(std::uint32_t code) {
  switch (static_cast<LinkError>(code)) {
    case LinkError::LineFailure:
      return std::string(kLineDown);
    case LinkError::BadLength:
    case LinkError::BadComplement:
    case LinkError::VerifierException:
      return "bad reply";
    default:
      return "no reply";
  }
}

bool Busy(DispenserState state) {
  return state == DispenserState::Authorized || state == DispenserState::Filling ||
         state == DispenserState::Stopped || state == DispenserState::Finished;
}

}  // namespace

LineWorker::LineWorker(Driver& driver, const LineConfig& line, Store& store, EventHub& hub,
                       std::function<std::string()> lineProblem)
    : driver_(driver),
      line_(line),
      store_(store),
      hub_(hub),
      lineProblem_(std::move(lineProblem)),
      schedule_(line.dispensers) {
  const std::string now = NowUtc();
  for (int d : line_.dispensers) {
    DispenserView view;
    view.channel = line_.channel;
    view.dispenser = d;
    view.updatedAt = now;
    views_[d] = view;
    tracked_[d] = Tracked{};
  }
}

LineWorker::~LineWorker() {
  Stop();
}

void LineWorker::Start() {
  thread_ = std::thread([this] { Run(); });
}

void LineWorker::Stop() {
  {
    std::lock_guard lock(queueMutex_);
    stopping_ = true;
  }
  queueChanged_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool LineWorker::Has(int dispenser) const {
  return views_.count(dispenser) != 0;  // the keys never change after construction
}

std::vector<DispenserView> LineWorker::Views() const {
  std::lock_guard lock(viewsMutex_);
  std::vector<DispenserView> views;
  for (const auto& [d, view] : views_) views.push_back(view);
  return views;
}

DispenserView LineWorker::View(int dispenser) const {
  std::lock_guard lock(viewsMutex_);
  return views_.at(dispenser);
}

std::future<CommandResult> LineWorker::Queue(std::function<CommandResult()> run, bool first) {
  auto command = std::make_shared<Command>();
  command->run = std::move(run);
  auto future = command->promise.get_future();
  {
    std::lock_guard lock(queueMutex_);
    if (stopping_) {
      command->promise.set_value({Outcome::Unavailable, "the service is stopping", {}});
      return future;
    }
    if (first) {
      queue_.push_front(command);
    } else {
      queue_.push_back(command);
    }
  }
  queueChanged_.notify_all();
  return future;
}

std::future<CommandResult> LineWorker::Authorize(int dispenser, int grade, FillLimit limit,
                                                 std::string by) {
  return Queue([=, this] { return DoAuthorize(dispenser, grade, limit, by); }, false);
}

std::future<CommandResult> LineWorker::StopDispenser(int dispenser) {
  return Queue([=, this] { return DoStop(dispenser); }, true);
}

std::future<CommandResult> LineWorker::StopAll() {
  return Queue(
      [this] {
        nlohmann::json results = nlohmann::json::array();
        for (int d : line_.dispensers) {
          const CommandResult result = DoStop(d);
          results.push_back(
              {{"channel", line_.channel},
               {"dispenser", d},
               {"result", result.outcome == Outcome::Done ? "stopped" : result.detail}});
        }
        return CommandResult{Outcome::Done, "", results};
      },
      true);
}

std::future<CommandResult> LineWorker::Totals(int dispenser, int nozzle) {
  return Queue([=, this] { return DoTotals(dispenser, nozzle); }, false);
}

std::future<CommandResult> LineWorker::ApplyPrices(std::vector<int> dispensers) {
  return Queue([this, dispensers] { return DoApplyPrices(dispensers); }, false);
}

void LineWorker::Run() {
  try {
    for (int d : line_.dispensers) LoadBook(d);
    Reconcile();
    // The dispensers hold the book from the start, whatever they were given
    // while the service was away; a running fill gets it after its end.
    for (auto& [d, tracked] : tracked_) {
      if (tracked.fill) {
        tracked.pricesDeferred = true;
      } else {
        DownloadBook(d);
      }
    }
  } catch (const std::exception& error) {
    fmt::print(stderr, "quorlan serve: channel {}: {}\n", line_.channel, error.what());
  }
  for (;;) {
    std::shared_ptr<Command> command;
    {
      std::lock_guard lock(queueMutex_);
      if (stopping_) break;
      if (!queue_.empty()) {
        command = queue_.front();
        queue_.pop_front();
      }
    }
    ++heartbeat_;
    if (command) {
      CommandResult result;
      try {
        result = command->run();
      } catch (const std::exception& error) {
        result = {Outcome::Unavailable, error.what(), {}};
      }
      command->promise.set_value(std::move(result));
      continue;
    }
    const auto pollStarted = std::chrono::steady_clock::now();
    try {
      Poll(schedule_.Next());
    } catch (const std::exception& error) {
      // The journal could not be written: the row stays open and the next
      // poll of the dispenser tries again.
      fmt::print(stderr, "quorlan serve: channel {}: {}\n", line_.channel, error.what());
    }
    std::unique_lock lock(queueMutex_);
    queueChanged_.wait_until(lock, pollStarted + kShortestPollCycle,
                             [this] { return stopping_ || !queue_.empty(); });
  }
  std::lock_guard lock(queueMutex_);
  for (auto& command : queue_) {
    command->promise.set_value({Outcome::Unavailable, "the service is stopping", {}});
  }
  queue_.clear();
}

void LineWorker::Reconcile() {
  for (const FillRecord& fill : store_.OpenFills(line_.channel)) {
    auto at = tracked_.find(fill.dispenser);
    if (at == tracked_.end()) {
      fmt::print(stderr,
                 "quorlan serve: fill {} is open on dispenser {}/{}, which is not configured\n",
                 fill.id, fill.channel, fill.dispenser);
      continue;
    }
    at->second.fill = fill;
    at->second.reconciling = true;
    schedule_.SetBusy(fill.dispenser, true);
    std::lock_guard lock(viewsMutex_);
    views_[fill.dispenser].fillId = fill.id;
  }
  // Settle every open row now; a dispenser that does not answer is settled
  // by its first answer later.
  for (auto& [d, tracked] : tracked_) {
    if (tracked.fill) Poll(d);
  }
}

void LineWorker::Poll(int dispenser) {
  Status status;
  std::string failure;
  try {
    status = driver_.Poll(static_cast<quorlan::Channel>(line_.channel),
                          static_cast<quorlan::Dispenser>(dispenser),
                          static_cast<std::uint8_t>(line_.nozzleMode));
  } catch (const LinkFailure& error) {
    status = Status{};
    failure = LinkReason(error.Code());
  }
  if (status.state == DispenserState::NoReply && failure.empty()) failure = "no reply";
  SetLink(dispenser, failure);
  Track(dispenser, status);
}

void LineWorker::SetLink(int dispenser, const std::string& failure) {
  const std::string problem = lineProblem_();
  const bool up = problem.empty() && failure != kLineDown;
  if (up != up_.exchange(up)) {
    const std::string reason = up ? "" : (problem.empty() ? failure : problem);
    hub_.Publish("line",
                 nlohmann::json{{"channel", line_.channel}, {"up", up}, {"reason", reason}}.dump());
  }
  DispenserView view = View(dispenser);
  view.link = failure.empty() ? "ok" : (up ? failure : std::string(kLineDown));
  Publish(dispenser, view);
}

void LineWorker::Publish(int dispenser, DispenserView view) {
  {
    std::lock_guard lock(viewsMutex_);
    DispenserView& current = views_[dispenser];
    if (view.SameAs(current)) return;
    view.updatedAt = NowUtc();
    current = view;
  }
  hub_.Publish("dispenser", DispenserJson(view).dump());
}

void LineWorker::Track(int dispenser, const Status& status) {
  Tracked& tracked = tracked_[dispenser];
  DispenserView view = View(dispenser);
  view.state = std::string(StateName(status.state));
  view.code = status.code;
  if (status.state == DispenserState::NoReply) {
    Publish(dispenser, view);
    return;
  }
  view.nozzle = status.nozzle;
  view.volume = RoundCents(status.volume);
  view.amount = RoundCents(status.amount);
  Publish(dispenser, view);

  switch (status.state) {
    case DispenserState::Authorized:
    case DispenserState::Filling:
    case DispenserState::Stopped:
      if (!tracked.fill) {
        // Fuel we did not authorize is journaled all the same.
        FillRecord fill;
        fill.channel = line_.channel;
        fill.dispenser = dispenser;
        fill.nozzle = status.nozzle;
        fill.status = FillStatus::Open;
        fill.id = store_.InsertFill(fill);
        tracked.fill = fill;
        view.fillId = fill.id;
        Publish(dispenser, view);
      } else if (tracked.fill->status == FillStatus::Pending) {
        // The authorization did reach the dispenser.
        store_.AcknowledgeFill(tracked.fill->id, tracked.fill->authorizedAt.value_or(NowUtc()));
        tracked.fill->status = FillStatus::Open;
      }
      if (status.nozzle > 0) tracked.fill->nozzle = status.nozzle;
      if (status.state != DispenserState::Authorized) tracked.sawFuel = true;
      // From here on the fill ends as any other.
      tracked.reconciling = false;
      break;
    case DispenserState::Finished:
      if (tracked.fill) {
        const Reading reading = driver_.Transaction(static_cast<quorlan::Channel>(line_.channel),
                                                    static_cast<quorlan::Dispenser>(dispenser));
        Complete(dispenser, RoundCents(reading.volume), RoundCents(reading.amount),
                 tracked.fill->nozzle);
      }
      break;
    case DispenserState::Idle:
      if (tracked.fill) {
        const FillRecord& fill = *tracked.fill;
        // Authorizing zeroes the display: once the dispenser took the
        // authorization any volume is this fill's, also when its end passed
        // unseen. Before that, only a display other than the one shown then.
        const bool fuel =
            view.volume > 0 && (fill.status == FillStatus::Open || tracked.sawFuel ||
                                view.volume != fill.shownVolume || view.amount != fill.shownAmount);
        if (fuel) {
          Complete(dispenser, view.volume, view.amount, fill.nozzle);
        } else {
          CloseWithoutFuel(dispenser);
        }
      }
      break;
    case DispenserState::NoPrices:
      if (!tracked.fill) DownloadBook(dispenser);
      break;
    default:
      break;
  }
  if (status.state == DispenserState::Idle && !tracked.fill) ApplyDeferred(dispenser);
  schedule_.SetBusy(dispenser, Busy(status.state) || tracked.fill.has_value());
}

void LineWorker::Complete(int dispenser, Cents volume, Cents amount, int nozzle) {
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
        driver_.Price(static_cast<quorlan::Channel>(line_.channel),
                      static_cast<quorlan::Dispenser>(dispenser), static_cast<Grade>(nozzle));
    if (price) fill.price = RoundCents(*price);
  }
  const bool stored = hub_.PublishCommitted(
      "fill", FillJson(fill).dump(),
      [&](const StoredEvent& event) { return store_.CompleteFill(fill, event); });
  if (!stored) {
    fmt::print(stderr, "quorlan serve: fill {} was already completed\n", fill.id);
  }
  ForgetFill(dispenser);
}

// The dispenser has no open fill any more: its view loses the fill's figures
// and the prices held back for it go out.
void LineWorker::ForgetFill(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  tracked.fill.reset();
  tracked.reconciling = false;
  tracked.sawFuel = false;
  DispenserView view = View(dispenser);
  view.fillId.reset();
  view.grade.reset();
  view.price.reset();
  view.limit = {};
  Publish(dispenser, view);
  ApplyDeferred(dispenser);
}

void LineWorker::CloseWithoutFuel(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  if (tracked.fill->status == FillStatus::Pending) {
    store_.DeleteFill(tracked.fill->id);
  } else {
    store_.CancelFill(tracked.fill->id);
  }
  ForgetFill(dispenser);
}

void LineWorker::LoadBook(int dispenser) {
  for (const PriceEntry& entry : store_.PricesOf(line_.channel, dispenser)) {
    driver_.SetPrice(static_cast<quorlan::Channel>(entry.channel),
                     static_cast<quorlan::Dispenser>(entry.dispenser),
                     static_cast<Grade>(entry.grade), FromCents(entry.price));
  }
}

std::string LineWorker::DownloadBook(int dispenser) {
  LoadBook(dispenser);
  const auto c = static_cast<quorlan::Channel>(line_.channel);
  const auto d = static_cast<quorlan::Dispenser>(dispenser);
  for (Grade g = 1; g <= kTableGrades; ++g) {
    if (!driver_.Price(c, d, g)) return "not downloaded: the book lacks grades 1..4";
  }
  try {
    driver_.DownloadPrices(c, d);
    return "downloaded";
  } catch (const LinkFailure& error) {
    SetLink(dispenser, LinkReason(error.Code()));
    tracked_[dispenser].pricesDeferred = true;
    return LinkReason(error.Code());
  } catch (const NoPrice& error) {
    return std::string("not downloaded: ") + error.what();
  }
}

void LineWorker::ApplyDeferred(int dispenser) {
  Tracked& tracked = tracked_[dispenser];
  if (!tracked.pricesDeferred) return;
  tracked.pricesDeferred = false;
  // A failure on the line sets the flag again and is retried at the next
  // idle poll; only a book that lacks grades is worth a word.
  const std::string result = DownloadBook(dispenser);
  if (!tracked.pricesDeferred && result != "downloaded") {
    fmt::print(stderr, "quorlan serve: deferred prices of dispenser {}/{}: {}\n", line_.channel,
               dispenser, result);
  }
}

CommandResult LineWorker::Failure(int dispenser, const std::exception& error) {
  const std::string where = fmt::format("dispenser {}/{}: ", line_.channel, dispenser);
  if (const auto* link = dynamic_cast<const LinkFailure*>(&error)) {
    const std::string reason = LinkReason(link->Code());
    SetLink(dispenser, reason);
    const Outcome outcome = reason == kLineDown ? Outcome::LineDown : Outcome::NoAck;
    const std::string described = Describe(link->Code());
    return {outcome, where + reason + (described == reason ? "" : " (" + described + ")"), {}};
  }
  if (dynamic_cast<const NoPrice*>(&error) || dynamic_cast<const InvalidArgument*>(&error)) {
    return {Outcome::Refused, where + error.what(), {}};
  }
  return {Outcome::Unavailable, where + error.what(), {}};
}

CommandResult LineWorker::DoAuthorize(int dispenser, int grade, FillLimit limit,
                                      const std::string& by) {
  if (!up_) return {Outcome::LineDown, fmt::format("channel {}: line down", line_.channel), {}};
  Tracked& tracked = tracked_[dispenser];
  DispenserView view = View(dispenser);
  const std::string where = fmt::format("dispenser {}/{}", line_.channel, dispenser);
  if (tracked.fill) return {Outcome::Refused, where + " has a fill open", {}};
  if (view.state == StateName(DispenserState::NoPrices)) {
    return {Outcome::Refused, where + " has no prices", {}};
  }
  // Only a display seen idle tells a later readout from this fill's.
  if (view.state == StateName(DispenserState::NoReply))
    return {Outcome::NoAck, where + ": no reply", {}};
  if (view.state != StateName(DispenserState::Idle)) {
    return {Outcome::Refused, fmt::format("{} is {}", where, view.state), {}};
  }
  const auto c = static_cast<quorlan::Channel>(line_.channel);
  const auto d = static_cast<quorlan::Dispenser>(dispenser);
  const auto price = driver_.Price(c, d, static_cast<Grade>(grade));
  if (!price) return {Outcome::Refused, fmt::format("{}: grade {} has no price", where, grade), {}};

  // The row exists before the authorization goes out, so that a crash in
  // between cannot lose the fill; it counts once the dispenser took it.
  FillRecord fill;
  fill.channel = line_.channel;
  fill.dispenser = dispenser;
  fill.grade = grade;
  fill.price = RoundCents(*price);
  fill.limit = limit;
  fill.authorizedBy = by;
  fill.authorizedAt = NowUtc();
  fill.shownVolume = view.volume;
  fill.shownAmount = view.amount;
  fill.status = FillStatus::Pending;
  fill.id = store_.InsertFill(fill);
  tracked.fill = fill;
  tracked.sawFuel = false;
  schedule_.SetBusy(dispenser, true);

  Limit driverLimit = Limit::None();
  if (limit.kind == FillLimit::Kind::Volume) driverLimit = Limit::Volume(FromCents(limit.value));
  if (limit.kind == FillLimit::Kind::Amount) driverLimit = Limit::Amount(FromCents(limit.value));
  try {
    driver_.Authorize(c, d, static_cast<Grade>(grade), driverLimit);
  } catch (const LinkFailure& error) {
    // It may have arrived all the same: the next poll settles the row.
    return Failure(dispenser, error);
  } catch (const std::exception& error) {
    store_.DeleteFill(fill.id);
    tracked.fill.reset();
    return Failure(dispenser, error);
  }
  store_.AcknowledgeFill(fill.id, *fill.authorizedAt);
  tracked.fill->status = FillStatus::Open;
  view.state = StateName(DispenserState::Authorized);
  view.fillId = fill.id;
  view.grade = grade;
  view.price = fill.price;
  view.limit = limit;
  Publish(dispenser, view);
  return {Outcome::Done, "", DispenserJson(View(dispenser))};
}

CommandResult LineWorker::DoStop(int dispenser) {
  if (!up_) return {Outcome::LineDown, fmt::format("channel {}: line down", line_.channel), {}};
  try {
    driver_.Stop(static_cast<quorlan::Channel>(line_.channel),
                 static_cast<quorlan::Dispenser>(dispenser));
  } catch (const std::exception& error) {
    return Failure(dispenser, error);
  }
  return {Outcome::Done, "", DispenserJson(View(dispenser))};
}

CommandResult LineWorker::DoTotals(int dispenser, int nozzle) {
  if (!up_) return {Outcome::LineDown, fmt::format("channel {}: line down", line_.channel), {}};
  try {
    const Reading totals =
        driver_.Totals(static_cast<quorlan::Channel>(line_.channel),
                       static_cast<quorlan::Dispenser>(dispenser), static_cast<Nozzle>(nozzle));
    return {Outcome::Done,
            "",
            {{"volume_total", FromCents(RoundCents(totals.volume))},
             {"amount_total", FromCents(RoundCents(totals.amount))}}};
  } catch (const std::exception& error) {
    return Failure(dispenser, error);
  }
}

CommandResult LineWorker::DoApplyPrices(const std::vector<int>& dispensers) {
  nlohmann::json results = nlohmann::json::array();
  for (int d : dispensers) {
    Tracked& tracked = tracked_[d];
    std::string result;
    if (tracked.fill) {
      // The running fill keeps the price it was authorized with.
      tracked.pricesDeferred = true;
      result = "deferred";
    } else {
      result = DownloadBook(d);
      // The answer's clients see the dispenser as it is with its prices.
      if (result == "downloaded") Poll(d);
    }
    results.push_back({{"channel", line_.channel}, {"dispenser", d}, {"result", result}});
  }
  return {Outcome::Done, "", results};
}

}  // namespace quorlan::station
