#pragma once
// One serial line's worker: the only thread that calls the driver for its
// channel. It runs the commands clients queue (a stop goes ahead of
// everything else queued), polls the dispensers in between, keeps the view
// clients read. The fills' journal (FillTracker) and the book's tables
// (PriceSync) are its rooms, called from this thread only.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quorlan/Driver.h"
#include "station/Config.h"
#include "station/DispenserView.h"
#include "station/EventHub.h"
#include "station/FillTracker.h"
#include "station/PollSchedule.h"
#include "station/PriceSync.h"
#include "station/Results.h"
#include "station/Store.h"

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

  std::future<CommandResult> Authorize(int dispenser, int grade, FillLimit limit, std::string by);
  std::future<CommandResult> StopDispenser(int dispenser);
  std::future<CommandResult> StopAll();
  std::future<CommandResult> Totals(int dispenser, int nozzle);
  // Announces the dispenser again once its unpaid fills changed.
  void Refresh(int dispenser);
  // The book changed for these dispensers: download now or after their fill.
  std::future<CommandResult> ApplyPrices(std::vector<int> dispensers);

 private:
  struct Command {
    std::function<CommandResult()> run;
    std::promise<CommandResult> promise;
  };

  std::future<CommandResult> Queue(std::function<CommandResult()> run, bool first);
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
  CommandResult Failure(int dispenser, const std::exception& error);
  CommandResult DoAuthorize(int dispenser, int grade, FillLimit limit, const std::string& by);
  CommandResult DoStop(int dispenser);
  CommandResult DoTotals(int dispenser, int nozzle);
  CommandResult DoApplyPrices(const std::vector<int>& dispensers);

  Driver& driver_;
  const LineConfig line_;
  Store& store_;
  EventHub& hub_;
  std::function<std::string()> lineProblem_;
  PollSchedule schedule_;
  // The worker thread's own.
  FillTracker fills_;
  PriceSync prices_;

  mutable std::mutex viewsMutex_;
  std::map<int, DispenserView> views_;

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<std::shared_ptr<Command>> queue_;
  bool stopping_ = false;

  std::atomic<bool> up_{true};
  std::atomic<std::uint64_t> heartbeat_{0};
  std::thread thread_;
};

}  // namespace quorlan::station
