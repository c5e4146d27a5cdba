// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station's lines: one driver over the lines' transport (the simulator
// or the serial ports), a capture where one is configured, and a worker per
// line, found by channel.

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <vector>

#include "quorlan/Driver.h"
#include "station/config/Config.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/line/LineCapture.h"
#include "station/line/LineWorker.h"
#include "station/model/DispenserView.h"
#include "station/model/Results.h"

namespace quorlan::sim {
class SimDispatcher;
}
namespace quorlan::serial {
class SerialDispatcher;
}

namespace quorlan::station {

// How long a use case waits for its line to take a command.
inline constexpr std::chrono::seconds kCommandWait{60};
// The command's answer; Unavailable when the line did not take it in time.
CommandResult Await(std::future<CommandResult> future);

class Lines {
 public:
  // Opens every line; throws ConfigError (exit 3) for a port that cannot be
  // opened. The workers start with Start.
  Lines(const StationConfig& config, Store& store, EventHub& hub);
  ~Lines();
  Lines(const Lines&) = delete;
  Lines& operator=(const Lines&) = delete;

  void Start();
  // Refuses what is still queued and ends the workers.
  void Stop();

  // nullptr for a channel that is not configured.
  LineWorker* Line(int channel);
  std::vector<LineWorker*> All();
  bool Has(int channel, int dispenser);
  std::vector<DispenserView> Views();
  // Sums the workers' heartbeats: it moves while every worker runs.
  std::uint64_t Heartbeat() const;

 private:
  // Before the transports: a line may record until its transport is gone.
  std::map<int, std::unique_ptr<LineCapture>> captures_;
  std::unique_ptr<sim::SimDispatcher> simulated_;
  std::unique_ptr<serial::SerialDispatcher> serial_;
  std::unique_ptr<Driver> driver_;
  std::map<int, std::unique_ptr<LineWorker>> workers_;
};

}  // namespace quorlan::station
