// Each operation over a pseudo-terminal against the simulator pacing its
// replies at 9600 baud: the median exchange time against the line time its
// bytes need, and the same for a status sweep of 32 dispensers.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

#include "support/PtyRig.h"

namespace quorlan::bench {
namespace {

struct LineOperation {
  int dispensers = 1;
  std::function<void(TVM30&)> run;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void OverTheLine(benchmark::State& state, const LineOperation& operation) {
  PtyRig rig(1, operation.dispensers);
  TVM30& driver = rig.Driver();
  operation.run(driver);  // first contact: nothing of it is timed
  const std::uint64_t bytesBefore = rig.LineBytes(1);
  std::vector<double> seconds;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    operation.run(driver);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
    seconds.push_back(elapsed.count());
  }
  const double bytes = double(rig.LineBytes(1) - bytesBefore) / double(seconds.size());
  const double median = Median(seconds);
  const double ideal = IdealLineSeconds(bytes);
  state.counters["line_bytes"] = bytes;
  state.counters["median_ms"] = median * 1e3;
  state.counters["ideal_ms"] = ideal * 1e3;
  state.counters["ratio"] = median / ideal;
}

void Register(const char* name, int exchanges, LineOperation operation) {
  benchmark::RegisterBenchmark(name, OverTheLine, std::move(operation))
      ->Iterations(exchanges)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
  Register("Line/status_poll", 60, {.run = [](TVM30& d) { d.PollStatus(1, 1); }});
  Register("Line/nozzle_status", 40, {.run = [](TVM30& d) {
             NozzleStatusRecord record;
             d.GetNozzleStatus(1, 1, 1, record);
           }});
  Register("Line/price_download", 30, {.run = [](TVM30& d) { d.SetPrice(1, 1, 1, 0, 0, 45.67); }});
  Register("Line/preset_authorize", 30, {.run = [](TVM30& d) {
             d.SetVolumePreset(1, 1, 0, 0, 3.5);
             d.Start(1, 1, 1);
           }});
  Register("Line/stop", 30, {.run = [](TVM30& d) { d.Stop(1, 1, 0); }});
  Register("Line/transaction_readout", 30, {.run = [](TVM30& d) {
             double amount = 0;
             benchmark::DoNotOptimize(d.ReadTransaction(1, 1, amount));
           }});
  Register("Line/totals", 30, {.run = [](TVM30& d) {
             double volume = 0, amount = 0;
             d.ReadTotals(1, 1, 1, volume, amount, 0, 0);
           }});
  Register("Line/status_sweep_32", 7, {.dispensers = 32, .run = [](TVM30& d) {
                                         for (std::uint32_t n = 1; n <= 32; ++n) d.PollStatus(1, n);
                                       }});
  return true;
}();

}  // namespace
}  // namespace quorlan::bench
