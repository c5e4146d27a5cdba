// 1, 8 and 32 channels polled at once, one pseudo-terminal and one thread a
// channel: the aggregate poll rate and the CPU time the driver side (driver
// and serial port dispatcher, on the calling thread) spends per poll.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "base/Errors.h"
#include "support/PtyRig.h"
#include "support/ThreadCpu.h"

namespace quorlan::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kPollingTime = std::chrono::seconds(4);

struct ChannelTally {
  std::uint64_t polls = 0;
  std::uint64_t failures = 0;
  double cpuSeconds = 0;
  double pollsPerSecond = 0;
};

// Polls one channel until told to stop; the rate runs from this thread's
// start to the end of its last poll.
void PollUntilStopped(TVM30& driver, std::uint32_t channel, const std::atomic<bool>& stop,
                      ChannelTally& tally) {
  const auto start = SteadyClock::now();
  auto lastDone = start;
  while (!stop) {
    const double cpuBefore = ThreadCpuSeconds();
    try {
      benchmark::DoNotOptimize(driver.PollStatus(channel, 1));
    } catch (const EDriverError&) {
      ++tally.failures;
    }
    tally.cpuSeconds += ThreadCpuSeconds() - cpuBefore;
    ++tally.polls;
    lastDone = SteadyClock::now();
  }
  const std::chrono::duration<double> busy = lastDone - start;
  tally.pollsPerSecond = busy.count() > 0 ? double(tally.polls) / busy.count() : 0;
}

void ChannelsInParallel(benchmark::State& state) {
  const int channels = int(state.range(0));
  PtyRig rig(channels, 1);
  for (int c = 1; c <= channels; ++c) rig.Driver().PollStatus(std::uint32_t(c), 1);
  std::uint64_t bytesBefore = 0;
  for (int c = 1; c <= channels; ++c) bytesBefore += rig.LineBytes(c);

  std::vector<ChannelTally> tallies(static_cast<std::size_t>(channels));
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int c = 1; c <= channels; ++c) {
      threads.emplace_back(PollUntilStopped, std::ref(rig.Driver()), std::uint32_t(c),
                           std::cref(stop), std::ref(tallies[std::size_t(c - 1)]));
    }
    std::this_thread::sleep_for(kPollingTime);
    stop = true;
    for (auto& thread : threads) thread.join();
    state.SetIterationTime(std::chrono::duration<double>(kPollingTime).count());
  }

  ChannelTally total;
  for (const auto& tally : tallies) {
    total.polls += tally.polls;
    total.failures += tally.failures;
    total.cpuSeconds += tally.cpuSeconds;
    total.pollsPerSecond += tally.pollsPerSecond;
  }
  std::uint64_t bytesAfter = 0;
  for (int c = 1; c <= channels; ++c) bytesAfter += rig.LineBytes(c);
  const double cpuPerPoll = total.cpuSeconds / double(total.polls);
  const double linePerPoll =
      IdealLineSeconds(double(bytesAfter - bytesBefore) / double(total.polls));
  state.counters["polls_per_s"] = total.pollsPerSecond;
  state.counters["failures"] = double(total.failures);
  state.counters["cpu_us_per_poll"] = cpuPerPoll * 1e6;
  state.counters["cpu_pct_of_line"] = 100 * cpuPerPoll / linePerPoll;
}
BENCHMARK(ChannelsInParallel)
    ->ArgName("channels")
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorlan::bench
