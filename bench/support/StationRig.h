#pragma once
// A whole station in this process over one simulated line served on a
// pseudo-terminal at 9600 baud, as `quorlan serve` runs it on a serial
// line: its database in a scratch directory, prices for every dispenser, and
// optionally its HTTP API on a free port of 127.0.0.1. The line's server
// records when each request and reply crossed the line.

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/Line.h"
#include "sim/PtyServer.h"
#include "station/api/Api.h"
#include "station/router/Audit.h"
#include "station/router/Auth.h"
#include "station/app/Station.h"
#include "station/http/Server.h"
#include "support/ScratchDirectory.h"

namespace quorlan::bench {

using Clock = std::chrono::steady_clock;

// One request or reply as the line's server saw it end.
struct LineEvent {
  Clock::time_point at;
  bool request = false;  // else the reply (or its absence)
  int dispenser = 0;     // of a status poll; 0 for anything else
  bool command = false;  // a request that is no part of a poll (totals, prices, ...)
};

inline constexpr const char* kBenchToken = "bench-token-0123456789abcdef";

class StationRig {
 public:
  StationRig(int dispensers, bool serveApi);
  ~StationRig();
  StationRig(const StationRig&) = delete;
  StationRig& operator=(const StationRig&) = delete;

  sim::Line& Line() { return *line_; }
  station::Station& Station() { return *station_; }
  const std::string& SlavePath() const { return server_->SlavePath(); }
  int HttpPort() const { return httpPort_; }
  const ScratchDirectory& Scratch() const { return scratch_; }

  // Ends the station (its line is free again); the line keeps being served.
  void StopStation();
  // The line's events so far; Clear forgets them.
  std::vector<LineEvent> Events();
  void Clear();

 private:
  ScratchDirectory scratch_;
  std::shared_ptr<sim::Line> line_;
  std::unique_ptr<sim::PtyServer> server_;
  std::mutex eventsMutex_;
  std::vector<LineEvent> events_;
  std::unique_ptr<station::Station> station_;
  std::unique_ptr<station::AuditLog> audit_;
  std::unique_ptr<station::Authenticator> authenticator_;
  std::unique_ptr<station::Api> api_;
  std::unique_ptr<http::Server> http_;
  int httpPort_ = 0;
};

// The p-th quantile (0..1) of the values, nearest rank; 0 when empty.
double Quantile(std::vector<double> values, double p);

}  // namespace quorlan::bench
