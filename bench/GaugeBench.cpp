// SPDX-License-Identifier: Apache-2.0
// The tank gauge's inventory of 16 tanks over a pseudo-terminal whose
// simulated gauge paces its reply at 9600 baud, read by the gauge client on
// the dispensers' serial line: the median exchange against the line time
// of its bytes, a row of the line table.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "gauge/GaugeClient.h"
#include "gauge/transport/SerialGaugeLink.h"
#include "sim/PtyServer.h"
#include "sim/gauge/CommandReader.h"
#include "support/LineTiming.h"

namespace quorlan::bench {
namespace {

constexpr int kTanks = 16;

void GaugeInventory(benchmark::State& state) {
  sim::GaugeOptions options;
  options.tanks.clear();
  for (int tank = 1; tank <= kTanks; ++tank) {
    options.tanks.push_back({.number = tank, .product = char('0' + (tank - 1) % 4 + 1)});
  }
  auto gauge = std::make_shared<sim::Gauge>(options);
  sim::PtyServer server(std::make_shared<sim::GaugeResponder>(gauge),
                        sim::PtyOptions{.pacing = true});
  std::atomic<std::uint64_t> bytes{0}, requests{0}, replies{0};
  server.SetTrace([&](sim::TraceDirection direction, int, std::span<const std::uint8_t> heard) {
    bytes += heard.size();
    if (direction == sim::TraceDirection::Request) ++requests;
    if (direction != sim::TraceDirection::Request) ++replies;
  });
  server.Start();
  gauge::GaugeClient client(std::make_unique<gauge::SerialGaugeLink>(server.SlavePath(), 9600), {});
  const auto read = [&] {
    const auto inventory = client.ReadInventory();
    if (const auto* failure = gauge::FailureOf(inventory))
      throw std::runtime_error(failure->detail);
    if (std::get<gauge::Inventory>(inventory).tanks.size() != kTanks) {
      throw std::runtime_error("an inventory without every tank");
    }
  };
  const auto settled = [&] {
    // The client may have the last byte a moment before the server counts it.
    for (int wait = 0; wait < 1000 && replies < requests; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::uint64_t(bytes);
  };
  TimeOverTheLine(state, read, settled);
  server.Stop();
}

const bool kRegistered = [] {
  benchmark::RegisterBenchmark("Line/gauge_inventory_16",
                               [](benchmark::State& state) {
                                 try {
                                   GaugeInventory(state);
                                 } catch (const std::exception& error) {
                                   state.SkipWithError(error.what());
                                 }
                               })
      ->Iterations(9)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
}  // namespace quorlan::bench
