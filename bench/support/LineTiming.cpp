// SPDX-License-Identifier: Apache-2.0
#include "support/LineTiming.h"

#include <algorithm>
#include <chrono>

#include "support/PtyRig.h"
#include "support/ThreadCpu.h"

namespace quorlan::bench {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void TimeOverTheLine(benchmark::State& state, const std::function<void()>& run,
                     const std::function<std::uint64_t()>& lineBytes) {
  run();  // first contact: nothing of it is timed
  const std::uint64_t bytesBefore = lineBytes();
  std::vector<double> seconds;
  std::vector<double> cpuSeconds;
  for (auto _ : state) {
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    cpuSeconds.push_back(ThreadCpuSeconds() - cpuBefore);
    state.SetIterationTime(elapsed.count());
    seconds.push_back(elapsed.count());
  }
  const double bytes = double(lineBytes() - bytesBefore) / double(seconds.size());
  const double median = Median(seconds);
  const double ideal = IdealLineSeconds(bytes);
  state.counters["line_bytes"] = bytes;
  state.counters["median_ms"] = median * 1e3;
  state.counters["ideal_ms"] = ideal * 1e3;
  state.counters["ratio"] = median / ideal;
  state.counters["cpu_us"] = Median(cpuSeconds) * 1e6;
}

}  // namespace quorlan::bench
