#pragma once
// The running station: its database, its event log, one driver over the
// lines' transport, and one worker per line.

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorlan/Driver.h"
#include "station/Config.h"
#include "station/EventHub.h"
#include "station/LineWorker.h"
#include "station/Results.h"
#include "station/Store.h"

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
  Store& Journal() { return *store_; }
  EventHub& Events() { return *hub_; }
  // nullptr for a channel that is not configured.
  LineWorker* Line(int channel);
  std::vector<LineWorker*> Lines();
  // Sums the workers' heartbeats: it moves while every worker runs.
  std::uint64_t Heartbeat() const;

  // The use cases, each in one place: the HTTP face only parses for them
  // and maps their outcomes. A command the line does not take within
  // kCommandWait ends Unavailable.
  bool Has(int channel, int dispenser);
  std::vector<DispenserView> Views();
  CommandResult Authorize(int channel, int dispenser, int grade, FillLimit limit,
                          const std::string& by);
  CommandResult StopDispenser(int channel, int dispenser);
  // Every line at once: each worker takes its stops ahead of anything queued.
  std::vector<StopResult> StopAll();
  CommandResult Totals(int channel, int dispenser, int nozzle);
  // Stores the entries the book does not hold yet, with their event, and
  // sends them to the dispensers; the entries are checked by the caller.
  std::vector<PriceResult> ChangePrices(const std::vector<PriceEntry>& entries);

 private:
  void SeedEmbeddedPrices();

  StationConfig config_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<EventHub> hub_;
  std::unique_ptr<sim::SimDispatcher> simulated_;
  std::unique_ptr<serial::SerialDispatcher> serial_;
  std::unique_ptr<Driver> driver_;
  std::map<int, std::unique_ptr<LineWorker>> workers_;
};

}  // namespace quorlan::station
