#pragma once
// One serial line's worker: it runs the commands clients queue, polls the
// dispensers in between, keeps the view clients read. Commands and polls take
// turns on the line as the poll schedule gives them; a long command (a
// price change for many dispensers) takes one turn a dispenser. A stop does not queue:
// it cancels the authorizations queued for its dispensers and takes the
// line's next turn on the caller's thread, never behind a journal write. The fills' journal
// (FillTracker) and the book's tables (PriceSync) are its rooms, called from this thread only.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "quorlan/Driver.h"
#include "station/config/Config.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/line/FillTracker.h"
#include "station/line/LineGate.h"
#include "station/line/PollSchedule.h"
#include "station/line/PriceSync.h"
#include "station/line/ProgressCoalescer.h"
#include "station/model/DispenserView.h"
#include "station/model/Results.h"

namespace quorlan::station {

class LineWorker {
 public:
  // `lineProblem` says why the line is down, empty while it is up.
  LineWorker(Driver& driver, const LineConfig& line, Store& store, EventHub& hub,
             std::function<std::string()> lineProblem);
  ~LineWorker();
  LineWorker(const LineWorker&) = delete;
  LineWorker& operator=(const LineWorker&) = delete;

  // Reconciles the open journal rows first, then polls.
  void Start();
  // Refuses what is still queued and ends the thread.
  void Stop();

  int Channel() const { return line_.channel; }
  const std::string& Port() const { return line_.port; }
  bool Has(int dispenser) const;
  bool Up() const { return up_; }
  std::uint64_t Heartbeat() const { return heartbeat_; }

  std::vector<DispenserView> Views() const;
  DispenserView View(int dispenser) const;

  // The dispenser's stops so far. An authorization given the count from
  // before a stop gives up, even if it was not queued yet at the stop.
  std::uint64_t Stops(int dispenser);
  // `request`: the idempotent request that sends it, if any, kept on its row.
  std::future<CommandResult> Authorize(int dispenser, int grade, FillLimit limit, std::string by,
                                       std::uint64_t stops,
                                       std::optional<std::string> request = std::nullopt);
  // Run on the caller's thread (StopAll on one of its own); the line's
  // authorizations queued for the dispensers answer `stopped`.
  std::future<CommandResult> StopDispenser(int dispenser);
  std::future<CommandResult> StopAll();
  // Commands waiting for the worker (the one it runs aside).
  int Queued();
  // The totals of these (dispenser, nozzle) pairs, one turn each, queued
  // together: no other command runs between them, only polls.
  std::vector<std::future<CommandResult>> Totals(const std::vector<std::pair<int, int>>& nozzles);
  // Announces the dispenser again once its unpaid fills changed.
  void Refresh(int dispenser);
  // The book changed for these dispensers: download now or after their fill.
  std::future<CommandResult> ApplyPrices(std::vector<int> dispensers);

 private:
  struct Command {
    // One turn's work; the answer once the command is done.
    std::function<std::optional<CommandResult>()> run;
    // How many polls' line time a turn of it holds the line for.
    std::size_t turns = 1;
    std::promise<CommandResult> promise;
    std::optional<int> authorizes;  // the dispenser an authorization is for
  };

  std::future<CommandResult> Queue(std::shared_ptr<Command> command);
  // The downloads of these dispensers' tables as one command, one turn each.
  std::shared_ptr<Command> PriceDownloads(std::vector<int> dispensers);
  // One turn of the command in progress, or of the next one queued.
  void RunCommandTurn();
  // Answers the queued authorizations of these dispensers `stopped`, and
  // makes one that is already running give up before it goes out.
  void CancelAuthorizations(const std::vector<int>& dispensers);
  // Whether a stop of the dispenser came since `stops` was counted.
  bool StoppedSince(int dispenser, std::uint64_t stops);
  void Run();
  void Reconcile();
  void Poll(int dispenser);
  void Track(int dispenser, const Status& status);
  // The dispenser has no open fill any more.
  void FillEnded(int dispenser);
  DownloadResult Download(int dispenser);
  void SendDeferred(int dispenser);
  void SetLink(int dispenser, Link failure);
  void Publish(int dispenser, DispenserView view);
  // The progress held back whose window has ended.
  void PublishDue();
  CommandResult Failure(int dispenser, const std::exception& error);
  CommandResult DoAuthorize(int dispenser, int grade, FillLimit limit, const std::string& by,
                            std::uint64_t stops, const std::optional<std::string>& request);
  CommandResult DoStop(int dispenser);
  CommandResult DoTotals(int dispenser, int nozzle);
  DownloadResult DoApplyPrices(int dispenser);

  Driver& driver_;
  LineGate gate_;
  const LineConfig line_;
  Store& store_;
  EventHub& hub_;
  std::function<std::string()> lineProblem_;
  PollSchedule schedule_;
  // The worker thread's own.
  FillTracker fills_;
  PriceSync prices_;
  struct LastPoll {
    std::chrono::steady_clock::time_point at;
    DispenserState state = DispenserState::Unknown;
  };
  std::map<int, LastPoll> lastPolls_;

  ProgressCoalescer progress_;

  mutable std::mutex viewsMutex_;
  std::map<int, DispenserView> views_;

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<std::shared_ptr<Command>> queue_;
  // The command whose turns have begun, out of the queue; the worker's own.
  std::shared_ptr<Command> current_;
  std::map<int, std::uint64_t> stops_;  // stops of each dispenser so far
  bool stopping_ = false;

  std::atomic<bool> up_{true};
  std::atomic<std::uint64_t> heartbeat_{0};
  std::thread thread_;
};

}  // namespace quorlan::station
