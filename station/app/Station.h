#pragma once
// The running station: its database, its event log, one driver over the
// lines' transport, and one worker per line.

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "quorlan/Driver.h"
#include "station/base/Zone.h"
#include "station/config/Config.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/line/LineCapture.h"
#include "station/line/LineWorker.h"
#include "station/model/FillQuery.h"
#include "station/model/Results.h"
#include "station/model/Settlement.h"
#include "station/model/ShiftReport.h"

namespace quorlan::sim {
class SimDispatcher;
}
namespace quorlan::serial {
class SerialDispatcher;
}

namespace quorlan::station {

// How long a use case waits for its line to take a command.
inline constexpr std::chrono::seconds kCommandWait{60};

class Station {
 public:
  // Opens the database and every line; throws ConfigError (exit 3) for a
  // port that cannot be opened.
  explicit Station(const StationConfig& config);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  void Start();
  // Ends the workers (queued commands are refused) and the event streams.
  void Stop();

  const StationConfig& Config() const { return config_; }
  // The configured zone, or the system's: the zone of reports.
  const Zone& TimeZone() const { return *zone_; }
  Store& Journal() { return *store_; }
  EventHub& Events() { return *hub_; }
  // nullptr for a channel that is not configured.
  LineWorker* Line(int channel);
  std::vector<LineWorker*> Lines();
  // Sums the workers' heartbeats: it moves while every worker runs.
  std::uint64_t Heartbeat() const;

  // The caller's name and role with what the station shows its figures by.
  SessionView Session(const std::string& name, Role role) const;

  // The use cases, each in one place: the HTTP face only parses for them
  // and maps their outcomes. A command the line does not take within
  // kCommandWait ends Unavailable.
  bool Has(int channel, int dispenser);
  std::vector<DispenserView> Views();
  // `request`: the idempotent request that asks, kept with the fill.
  CommandResult Authorize(int channel, int dispenser, int grade, FillLimit limit,
                          const std::string& by,
                          const std::optional<std::string>& request = std::nullopt);
  // What became of an authorization that `request` sent and whose answer was
  // not kept (a restart cut it off, or the database refused it): Done with
  // its fill, Refused when it surely did not go out, Unavailable while the
  // dispenser has not told yet.
  CommandResult AuthorizationOutcome(int channel, int dispenser, const std::string& request);
  CommandResult StopDispenser(int channel, int dispenser);
  // Every line at once: each worker takes its stops ahead of anything queued.
  std::vector<StopResult> StopAll();
  CommandResult Totals(int channel, int dispenser, int nozzle);
  // Stores the entries the book does not hold yet, with their event, and
  // sends them to the dispensers; the entries are checked by the caller.
  std::vector<PriceResult> ChangePrices(const std::vector<PriceEntry>& entries);

  // Settlement: the fill as it now stands, or why it was refused; no fill
  // at all for an unknown id. A change is journaled and announced.
  struct Settled {
    std::optional<FillRecord> fill;
    std::optional<SettlementRefusal> refusal;
    std::string detail;
  };
  Settled Lock(std::int64_t fill, const std::string& caller);
  Settled Unlock(std::int64_t fill, const std::string& caller, bool admin);
  Settled Clear(std::int64_t fill, const std::string& caller,
                const std::optional<std::string>& reference);
  std::vector<FillRecord> Fills(const FillQuery& query);
  // Frees every lock that lapsed by `now`, each announced with its fill
  // event (the keeper calls it every second); the fills freed.
  std::vector<FillRecord> ReleaseLapsedLocks(Instant now);

  // Reads every configured nozzle's totals, stores the report with the
  // next shift's opening in one transaction and announces it (then an
  // alarm per nozzle with a difference); the report's JSON.
  std::string CloseShift(const std::string& caller);

 private:
  // Looks at the database every little while: a journal that cannot be
  // written is said at once (log, alarm, health), and taken up again when it
  // can be.
  void WatchJournal();

  std::mutex watchMutex_;
  std::condition_variable watchWake_;
  bool watching_ = false;
  std::thread watch_;

  void TakeStartingPrices();
  // Every configured nozzle's totals, read now; nullopt where one did not answer.
  std::vector<std::pair<NozzleId, std::optional<station::Totals>>> ReadTotals();
  Settled Settle(std::int64_t id, const std::function<SettlementResult(const FillRecord&)>& rule);
  // The first shift's opening totals, then lapsed locks and drive-off
  // alarms, until Stop.
  void Keep(bool openingTotals);
  void RaiseDriveOffs();
  // A journal stamp as the station's zone reads it.
  std::string ZonedText(const std::string& utc) const;
  // Until the first shift's opening totals are read (at the first start only).
  void AwaitOpening();

  StationConfig config_;
  std::optional<Zone> zone_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<EventHub> hub_;
  // Before the transports: a line may record until its transport is gone.
  std::map<int, std::unique_ptr<LineCapture>> captures_;
  std::unique_ptr<sim::SimDispatcher> simulated_;
  std::unique_ptr<serial::SerialDispatcher> serial_;
  std::unique_ptr<Driver> driver_;
  std::map<int, std::unique_ptr<LineWorker>> workers_;

  std::mutex settleMutex_;  // one settlement decision at a time
  std::mutex shiftMutex_;   // one close at a time, never before the opening totals
  std::mutex keeperMutex_;
  std::condition_variable keeperWake_;
  bool keeperStop_ = false;
  bool openingRead_ = true;
  std::set<std::int64_t> droveOff_;  // fills whose drive-off was announced
  std::thread keeper_;
};

}  // namespace quorlan::station
