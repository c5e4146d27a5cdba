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
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "quorlan/Driver.h"
#include "station/config/Config.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/line/CommandQueue.h"
#include "station/line/FillTracker.h"
#include "station/line/LineGate.h"
#include "station/line/LineViews.h"
#include "station/line/PollSchedule.h"
#include "station/line/PriceSync.h"
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
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  // Refuses what is still queued and ends the thread.
  void Stop();

  int Channel() const { return line_.channel; }
  const std::string& Port() const { return line_.port; }
  bool Has(int dispenser) const { return views_.Has(dispenser); }
  bool Up() const { return up_; }
  std::uint64_t Heartbeat() const { return heartbeat_; }

  std::vector<DispenserView> Views() const { return views_.All(); }
  DispenserView View(int dispenser) const { return views_.View(dispenser); }

  // The dispenser's stops so far. An authorization given the count from
  // before a stop gives up, even if it was not queued yet at the stop.
  std::uint64_t Stops(int dispenser) { return queue_.Stops(dispenser); }
  std::future<CommandResult> Authorize(int dispenser, int grade, FillLimit limit, std::string by,
                                       std::uint64_t stops,
                                       std::optional<std::string> request = std::nullopt);
  // Run on the caller's thread (StopAll on one of its own); the line's
  // authorizations queued for the dispensers answer `stopped`.
  std::future<CommandResult> StopDispenser(int dispenser);
  std::future<CommandResult> StopAll();
  // Commands waiting for the worker (the one it runs aside).
  int Queued() { return queue_.Size(); }
  // The totals of these (dispenser, nozzle) pairs, one turn each, queued
  // together: no other command runs between them, only polls.
  std::vector<std::future<CommandResult>> Totals(const std::vector<std::pair<int, int>>& nozzles);
  // Announces the dispenser again once its unpaid fills changed.
  void Refresh(int dispenser);
  // The book changed for these dispensers: download now or after their fill.
  std::future<CommandResult> ApplyPrices(std::vector<int> dispensers);

 private:
  using Command = CommandQueue::Command;
  // A turn of a price change: the table's exchange, about two polls' line
  // time, and the poll that follows it.
  static constexpr std::size_t kDownloadTurns = 3;
  // The downloads of these dispensers' tables as one command, one turn each.
  std::shared_ptr<Command> PriceDownloads(std::vector<int> dispensers);
  void Run();
  void Reconcile();
  void Poll(int dispenser);
  void Track(int dispenser, const Status& status);
  // The dispenser has no open fill any more.
  void FillEnded(int dispenser);
  DownloadResult Download(int dispenser);
  void SendDeferred(int dispenser);
  void SetLink(int dispenser, Link failure);
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

  LineViews views_;
  CommandQueue queue_;

  std::atomic<bool> up_{true};
  std::atomic<std::uint64_t> heartbeat_{0};
  std::thread thread_;
};

}  // namespace quorlan::station
