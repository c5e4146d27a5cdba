#include "station/line/LineWorker.h"

#include <fmt/format.h>

#include "station/base/Log.h"
#include "station/format/EventData.h"
#include "station/metrics/Metrics.h"

namespace quorlan::station {

namespace {

// A poll cycle lasts at least this long: the worker waits out the rest for
// a command (which wakes it at once). A real line's poll takes longer, so it
// polls back to back; a simulated line answers at once and would spin.
constexpr std::chrono::milliseconds kShortestPollCycle{10};

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
      schedule_(line.dispensers),
      fills_(driver, gate_, store, hub, prices_, line.channel, line.dispensers),
      prices_(driver, gate_, store, line.channel, line.dispensers),
      views_(line.channel, line.dispensers, store.settlement, hub) {}

LineWorker::~LineWorker() {
  Stop();
}

void LineWorker::Stop() {
  queue_.Stop();
  if (thread_.joinable()) thread_.join();
}

void LineWorker::Refresh(int dispenser) {
  // On the worker's thread, so that no newer view is overwritten.
  auto command = std::make_shared<Command>();
  command->run = [this, dispenser] {
    views_.Publish(dispenser, View(dispenser));
    return CommandResult{};
  };
  queue_.Push(std::move(command));
}

std::future<CommandResult> LineWorker::Authorize(int dispenser, int grade, FillLimit limit,
                                                 std::string by, std::uint64_t stops,
                                                 std::optional<std::string> request) {
  auto command = std::make_shared<Command>();
  command->authorizes = dispenser;
  command->run = [=, this] { return DoAuthorize(dispenser, grade, limit, by, stops, request); };
  return queue_.Push(std::move(command));
}

std::future<CommandResult> LineWorker::StopDispenser(int dispenser) {
  queue_.CancelAuthorizations(line_.channel, {dispenser});
  std::promise<CommandResult> done;
  done.set_value(DoStop(dispenser));
  return done.get_future();
}

std::future<CommandResult> LineWorker::StopAll() {
  queue_.CancelAuthorizations(line_.channel, line_.dispensers);
  // Every line at once: each waits only for its own exchange in progress.
  return std::async(std::launch::async, [this] {
    std::vector<StopResult> results;
    for (int d : line_.dispensers) {
      const CommandResult result = DoStop(d);
      results.push_back({line_.channel, d, result.outcome == Outcome::Done, result.detail});
    }
    return CommandResult{Outcome::Done, "", results};
  });
}

std::vector<std::future<CommandResult>> LineWorker::Totals(
    const std::vector<std::pair<int, int>>& nozzles) {
  std::vector<std::shared_ptr<Command>> commands;
  for (const auto& [dispenser, nozzle] : nozzles) {
    auto command = std::make_shared<Command>();
    command->run = [=, this] { return DoTotals(dispenser, nozzle); };
    commands.push_back(std::move(command));
  }
  return queue_.PushAll(commands);
}

std::future<CommandResult> LineWorker::ApplyPrices(std::vector<int> dispensers) {
  return queue_.Push(PriceDownloads(std::move(dispensers)));
}

std::shared_ptr<LineWorker::Command> LineWorker::PriceDownloads(std::vector<int> dispensers) {
  auto command = std::make_shared<Command>();
  command->turns = kDownloadTurns;
  auto results = std::make_shared<std::vector<PriceResult>>();
  command->run = [this, dispensers = std::move(dispensers),
                  results]() -> std::optional<CommandResult> {
    if (results->size() < dispensers.size()) {
      const int d = dispensers[results->size()];
      results->push_back({line_.channel, d, DoApplyPrices(d)});
    }
    if (results->size() < dispensers.size()) return std::nullopt;
    return CommandResult{Outcome::Done, "", std::move(*results)};
  };
  return command;
}

void LineWorker::Run() {
  try {
    for (int d : line_.dispensers) prices_.Load(d);
    Reconcile();
    // The dispensers hold the book from the start, whatever they were given
    // while the service was away; a running fill gets it after its end. The
    // downloads take turns with the polls like any command.
    queue_.PushFront(PriceDownloads(line_.dispensers));
  } catch (const std::exception& error) {
    Log("channel {}: {}", line_.channel, error.what());
  }
  std::string lastFailure;
  for (;;) {
    std::size_t commandTurns = 0;  // none waiting
    if (!queue_.NextTurns(commandTurns)) break;
    ++heartbeat_;
    const int turn = schedule_.Next(commandTurns);
    if (turn == PollSchedule::kCommandTurn) {
      queue_.RunTurn();
      views_.PublishDue();
      continue;
    }
    const auto pollStarted = std::chrono::steady_clock::now();
    try {
      Poll(turn);
    } catch (const std::exception& error) {
      // The journal could not be written: the row stays open and the next
      // poll of the dispenser tries again. The same failure is said once.
      if (error.what() != lastFailure) Log("channel {}: {}", line_.channel, error.what());
      lastFailure = error.what();
    }
    views_.PublishDue();
    queue_.WaitUntil(pollStarted + kShortestPollCycle);
  }
  queue_.RefuseRest();
}

void LineWorker::Reconcile() {
  const std::vector<int> open = fills_.Reconcile();
  for (int d : open) {
    schedule_.SetBusy(d, true);
    // Only the row's id: what else it holds shows once the fill ends.
    OpenFill shown;
    shown.id = fills_.Open(d)->id;
    views_.ShowFill(d, shown);
  }
  // Settle every open row now; a dispenser that does not answer is settled
  // by its first answer later.
  for (int d : open) Poll(d);
}

void LineWorker::Poll(int dispenser) {
  const auto started = std::chrono::steady_clock::now();
  Metrics& metrics = ServiceMetrics();
  if (const auto last = lastPolls_.find(dispenser); last != lastPolls_.end()) {
    metrics.PollInterval(last->second.state)
        .Observe(std::chrono::duration<double>(started - last->second.at).count());
  }
  metrics.polls.Add();
  Status status;
  Link failure = Link::Ok;
  try {
    const auto turn = gate_.Take();
    status = driver_.Poll(static_cast<quorlan::Channel>(line_.channel),
                          static_cast<quorlan::Dispenser>(dispenser),
                          static_cast<std::uint8_t>(line_.nozzleMode));
  } catch (const LinkFailure& error) {
    status = Status{};
    failure = LinkOf(error.Code());
  }
  if (status.state == DispenserState::NoReply && failure == Link::Ok) failure = Link::NoReply;
  lastPolls_[dispenser] = {started, status.state};
  SetLink(dispenser, failure);
  Track(dispenser, status);
}

void LineWorker::SetLink(int dispenser, Link failure) {
  if (failure != Link::Ok)
    ServiceMetrics().linkFailures.At(line_.channel, dispenser, failure).Add();
  const std::string problem = lineProblem_();
  const bool up = problem.empty() && failure != Link::LineDown;
  if (up != up_.exchange(up)) {
    const std::string reason =
        up ? "" : (problem.empty() ? std::string(LinkName(failure)) : problem);
    hub_.Publish(kLineEvent, LineEventData(line_.channel, up, reason));
  }
  DispenserView view = View(dispenser);
  view.link = failure == Link::Ok ? Link::Ok : (up ? failure : Link::LineDown);
  if (failure == Link::Ok) view.answeredAt = std::chrono::steady_clock::now();
  views_.Publish(dispenser, view);
}

void LineWorker::Track(int dispenser, const Status& status) {
  DispenserView view = View(dispenser);
  view.state = status.state;
  view.code = status.code;
  if (status.state == DispenserState::NoReply) {
    views_.Publish(dispenser, view);
    return;
  }
  view.nozzle = status.nozzle;
  view.volume = RoundCents(status.volume);
  view.amount = RoundCents(status.amount);
  views_.Publish(dispenser, view);

  // What the dispenser held is gone once it powers up.
  if (status.state == DispenserState::NoPrices) prices_.Forget(dispenser);
  switch (fills_.Track(dispenser, status, view.volume, view.amount)) {
    case FillTracker::Change::Opened:
    case FillTracker::Change::Changed:
      view.fill = fills_.Open(dispenser)->Shown();
      views_.Publish(dispenser, view);
      break;
    case FillTracker::Change::Ended:
      FillEnded(dispenser);
      break;
    case FillTracker::Change::None:
      break;
  }
  const bool open = fills_.Open(dispenser) != nullptr;
  if (status.state == DispenserState::NoPrices && !open) Download(dispenser);
  if (status.state == DispenserState::Idle && !open) SendDeferred(dispenser);
  schedule_.SetBusy(dispenser, Busy(status.state) || open);
}

// The view loses the fill's figures and the prices held back for it go out.
void LineWorker::FillEnded(int dispenser) {
  DispenserView view = View(dispenser);
  view.fill.reset();
  views_.Publish(dispenser, view);
  SendDeferred(dispenser);
}

DownloadResult LineWorker::Download(int dispenser) {
  const DownloadResult result = prices_.Download(dispenser);
  if (result.download == Download::LinkFailed) SetLink(dispenser, result.link);
  return result;
}

void LineWorker::SendDeferred(int dispenser) {
  if (!prices_.Deferred(dispenser)) return;
  // A failure on the line defers it again, to the next idle poll; only a
  // book that lacks grades is worth a word.
  const auto result = prices_.SendDeferred(dispenser);
  if (result->download == Download::LinkFailed) {
    SetLink(dispenser, result->link);
  } else if (result->download != Download::Downloaded) {
    Log("deferred prices of dispenser {}/{}: not downloaded: {}", line_.channel, dispenser,
        result->download == Download::Incomplete ? "the book lacks grades 1..4" : result->detail);
  }
}

CommandResult LineWorker::Failure(int dispenser, const std::exception& error) {
  const std::string where = fmt::format("dispenser {}/{}: ", line_.channel, dispenser);
  if (const auto* link = dynamic_cast<const LinkFailure*>(&error)) {
    const Link reason = LinkOf(link->Code());
    SetLink(dispenser, reason);
    const Outcome outcome = reason == Link::LineDown ? Outcome::LineDown : Outcome::NoAck;
    const std::string word(LinkName(reason));
    const std::string described = Describe(link->Code());
    return {outcome, where + word + (described == word ? "" : " (" + described + ")"), {}};
  }
  if (dynamic_cast<const NoPrice*>(&error) || dynamic_cast<const InvalidArgument*>(&error)) {
    return {Outcome::Refused, where + error.what(), {}};
  }
  return {Outcome::Unavailable, where + error.what(), {}};
}

CommandResult LineWorker::DoAuthorize(int dispenser, int grade, FillLimit limit,
                                      const std::string& by, std::uint64_t stops,
                                      const std::optional<std::string>& request) {
  if (!up_) return {Outcome::LineDown, fmt::format("channel {}: line down", line_.channel), {}};
  // No sale that the journal could not keep.
  if (const std::string problem = store_.database.Check(); !problem.empty()) {
    return {Outcome::Unavailable, "not authorized: " + problem, {}};
  }
  DispenserView view = View(dispenser);
  const std::string where = fmt::format("dispenser {}/{}", line_.channel, dispenser);
  if (fills_.Open(dispenser)) return {Outcome::Refused, where + " has a fill open", {}};
  if (view.state == DispenserState::NoPrices) {
    return {Outcome::Refused, where + " has no prices", {}};
  }
  // Only a display seen idle tells a later readout from this fill's.
  if (view.state == DispenserState::NoReply) return {Outcome::NoAck, where + ": no reply", {}};
  if (view.state != DispenserState::Idle) {
    return {Outcome::Refused, fmt::format("{} is {}", where, StateName(view.state)), {}};
  }
  const auto c = static_cast<quorlan::Channel>(line_.channel);
  const auto d = static_cast<quorlan::Dispenser>(dispenser);
  // The dispenser must hold the table the journal will quote: one whose
  // download failed, or that a power-up lost, goes out again first.
  if (!prices_.Known(dispenser) || prices_.Deferred(dispenser)) {
    const DownloadResult download = Download(dispenser);
    if (download.download == Download::LinkFailed) {
      return {download.link == Link::LineDown ? Outcome::LineDown : Outcome::NoAck,
              fmt::format("{}: its price table could not be confirmed ({}); not authorized", where,
                          LinkName(download.link)),
              {}};
    }
    if (download.download == Download::Refused) {
      return {Outcome::Refused,
              fmt::format("{}: its price table was not downloaded: {}", where, download.detail),
              {}};
    }
  }
  const auto price = prices_.Charged(dispenser, grade);
  if (!price) return {Outcome::Refused, fmt::format("{}: grade {} has no price", where, grade), {}};

  const FillRecord pending =
      FillTracker::Pending(line_.channel, dispenser, grade, *price, limit, by, view, request);
  // The nozzles' totals before: they settle the fill if its display is lost.
  // A plain authorization may end on any nozzle the line has.
  const std::vector<int> nozzles =
      limit.kind == FillLimit::Kind::None ? line_.nozzles : std::vector<int>{grade};
  auto totals = fills_.ReadTotals(dispenser, nozzles);
  const FillRecord fill = fills_.Begin(pending, std::move(totals));
  schedule_.SetBusy(dispenser, true);

  Limit driverLimit = Limit::None();
  if (limit.kind == FillLimit::Kind::Volume) driverLimit = Limit::Volume(FromCents(limit.value));
  if (limit.kind == FillLimit::Kind::Amount) driverLimit = Limit::Amount(FromCents(limit.value));
  try {
    auto turn = gate_.Take();
    // A stop that came after this authorization was queued wins: it never
    // goes out. One that comes later stops what went out.
    if (queue_.StoppedSince(dispenser, stops)) {
      turn.unlock();
      fills_.Abandon(dispenser);
      return {Outcome::Refused, where + ": stopped", {}};
    }
    driver_.Authorize(c, d, static_cast<Grade>(grade), driverLimit);
  } catch (const LinkFailure& error) {
    // It may have arrived all the same: the next poll settles the row.
    return Failure(dispenser, error);
  } catch (const std::exception& error) {
    fills_.Abandon(dispenser);
    return Failure(dispenser, error);
  }
  fills_.Acknowledge(dispenser);
  view.state = DispenserState::Authorized;
  view.fill = fill.Shown();
  views_.Publish(dispenser, view);
  return {Outcome::Done, "", View(dispenser)};
}

CommandResult LineWorker::DoStop(int dispenser) {
  if (!up_) return {Outcome::LineDown, fmt::format("channel {}: line down", line_.channel), {}};
  try {
    const auto turn = gate_.TakeFirst();
    driver_.Stop(static_cast<quorlan::Channel>(line_.channel),
                 static_cast<quorlan::Dispenser>(dispenser));
  } catch (const std::exception& error) {
    return Failure(dispenser, error);
  }
  return {Outcome::Done, "", View(dispenser)};
}

CommandResult LineWorker::DoTotals(int dispenser, int nozzle) {
  if (!up_) return {Outcome::LineDown, fmt::format("channel {}: line down", line_.channel), {}};
  try {
    const auto turn = gate_.Take();
    const Reading totals =
        driver_.Totals(static_cast<quorlan::Channel>(line_.channel),
                       static_cast<quorlan::Dispenser>(dispenser), static_cast<Nozzle>(nozzle));
    return {Outcome::Done, "", TotalsReading{RoundCents(totals.volume), RoundCents(totals.amount)}};
  } catch (const std::exception& error) {
    return Failure(dispenser, error);
  }
}

DownloadResult LineWorker::DoApplyPrices(int dispenser) {
  if (fills_.Open(dispenser)) {
    // The running fill keeps the price it was authorized with.
    prices_.Defer(dispenser);
    return DownloadResult{Download::Deferred, Link::Ok, {}};
  }
  const DownloadResult result = Download(dispenser);
  // The answer's clients see the dispenser as it is with its prices.
  if (result.download == Download::Downloaded) Poll(dispenser);
  return result;
}

}  // namespace quorlan::station
