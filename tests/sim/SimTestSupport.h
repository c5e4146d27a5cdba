#pragma once
// What the simulator tests share: request frames built by the driver's own
// frame encoder, and a driver wired to a simulated line.

#include <memory>
#include <ostream>

#include "driver/TVM30.h"
#include "link/Frame.h"
#include "log/Logger.h"
#include "sim/Line.h"
#include "sim/SimDispatcher.h"
#include "support/FakeDispatcher.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::sim::testing {

using quorlan::testing::Pairs;

inline Bytes RequestFrame(int subAddress, std::uint8_t command, const Bytes& data = {}) {
  const auto frame = BuildFrame(subAddress, command, data);
  return {frame.View().begin(), frame.View().end()};
}

// A line that moves only when told: no clock, prices already loaded.
inline LineOptions StillLine(int dispensers = 1) {
  return {.dispensers = dispensers, .clock = {}, .startWithoutPrices = false};
}

// The driver on channel 1 of an in-process line.
struct DriverOnSim {
  explicit DriverOnSim(LineOptions options, std::uint32_t flags = 0)
      : line(std::make_shared<Line>(std::move(options))), driver(port, flags, logger) {
    logger.SetFileName("driver.log");
    port.Attach(1, line);
    driver.OpenChannel(1);
  }
  std::uint8_t Poll(std::uint8_t d = 1) {
    NozzleStatusRecord record;
    driver.GetNozzleStatus(1, d, 1, record);
    return record.bytes[0];
  }

  quorlan::testing::MemoryLogPlatform platform;
  Logger logger{platform};
  std::shared_ptr<Line> line;
  SimDispatcher port;
  TVM30 driver;
};

namespace {
// Test cases print as their names, in the tests' own unnamed namespace.
template <class Case>
requires requires(const Case& c) {
  c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}
}  // namespace

}  // namespace quorlan::sim::testing
