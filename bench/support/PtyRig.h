#pragma once
// The whole stack over pseudo-terminals, as the line and scale benchmarks
// run it: per channel a simulated line whose server paces its replies at
// 9600 baud and answers without turnaround; one serial port dispatcher with
// every channel mapped to its pseudo-terminal; one driver, logging off.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/TVM30.h"
#include "log/Logger.h"
#include "quorlan/SerialTransport.h"
#include "sim/Line.h"
#include "sim/PtyServer.h"

namespace quorlan::bench {

// Seconds the line needs for `bytes` at 10 bit times each, 9600 baud.
double IdealLineSeconds(double bytes);

class PtyRig {
 public:
  // Channels 1..channels, each line with `dispensers` dispensers, prices
  // loaded; every channel already opened by the driver.
  PtyRig(int channels, int dispensers);
  ~PtyRig();
  PtyRig(const PtyRig&) = delete;
  PtyRig& operator=(const PtyRig&) = delete;

  TVM30& Driver() { return driver_; }
  // The pseudo-terminal the channel's line is served on.
  const std::string& SlavePath(int channel) const;
  // Request and reply bytes the simulator has received and sent on the
  // channel, once every answered request's reply has gone out.
  std::uint64_t LineBytes(int channel);

 private:
  struct ServedLine {
    std::shared_ptr<sim::Line> line;
    std::unique_ptr<sim::PtyServer> server;
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> requests{0};
    std::atomic<std::uint64_t> replies{0};
  };

  Logger logger_;
  serial::SerialDispatcher port_;
  TVM30 driver_;
  std::vector<std::unique_ptr<ServedLine>> lines_;
};

}  // namespace quorlan::bench
