// Whole driver operations on an instant dispatcher, with logging off and
// with logging to a real file.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "support/ReplayedDriver.h"

namespace quorlan::bench {
namespace {

// Reports how much the driver did per call and refuses figures whose
// conversation left the recording.
void Finish(benchmark::State& state, ReplayedDriver& rig, std::size_t linesBefore,
            std::size_t linesAfter) {
  if (rig.Diverged()) state.SkipWithError("the driver left the recorded conversation");
  state.counters["exchanges"] = double(rig.RecordedExchanges());
  state.counters["log_lines"] = double(linesAfter - linesBefore);
}

// One status request through the operation table: poll and nozzle request
// on an idle dispenser.
void NozzleStatusCall(benchmark::State& state, Logging logging) {
  ReplayedDriver rig({.dispensers = 1, .clock = {}, .startWithoutPrices = false}, logging);
  NozzleStatusRecord record;
  const auto poll = [&] { rig.Driver().GetNozzleStatus(1, 1, 1, record); };
  poll();  // the first request after opening the channel downloads the prices
  const std::size_t linesBefore = rig.LogLines();
  rig.Record(poll);
  const std::size_t linesAfter = rig.LogLines();
  for (auto _ : state) {
    poll();
    benchmark::DoNotOptimize(record);
  }
  Finish(state, rig, linesBefore, linesAfter);
}
BENCHMARK_CAPTURE(NozzleStatusCall, log_off, Logging::Off);
BENCHMARK_CAPTURE(NozzleStatusCall, log_file, Logging::ToFile);

// Price, volume preset, start, the polls of the fill until the dispenser is
// idle again, the transaction and the totals.
void FillCycle(TVM30& driver) {
  driver.SetPrice(1, 1, 1, 0, 0, 45.67);
  driver.SetVolumePreset(1, 1, 0, 0, 3.5);
  driver.Start(1, 1, 1);
  NozzleStatusRecord record;
  std::uint8_t previous = 0;
  for (int poll = 0; poll < 40; ++poll) {
    driver.GetNozzleStatus(1, 1, 1, record);
    if (record.bytes[0] == 0xE0 && previous == kStateFinished) break;
    previous = record.bytes[0];
  }
  double volume = 0, amount = 0, volumeTotal = 0, amountTotal = 0;
  driver.GetTransaction(1, 1, volume, amount);
  driver.ReadTotals(1, 1, 1, volumeTotal, amountTotal, 0, 0);
  benchmark::DoNotOptimize(volumeTotal);
}

void FillCycleCall(benchmark::State& state, Logging logging) {
  // The nozzle lifts by itself and every poll pours a litre.
  ReplayedDriver rig({.dispensers = 1,
                      .volumePerPoll = 1.0,
                      .clock = {},
                      .autoNozzle = true,
                      .startWithoutPrices = false},
                     logging);
  FillCycle(rig.Driver());  // settles the first price download
  const std::size_t linesBefore = rig.LogLines();
  rig.Record([&] { FillCycle(rig.Driver()); });
  const std::size_t linesAfter = rig.LogLines();
  for (auto _ : state) FillCycle(rig.Driver());
  Finish(state, rig, linesBefore, linesAfter);
}
BENCHMARK_CAPTURE(FillCycleCall, log_off, Logging::Off);
BENCHMARK_CAPTURE(FillCycleCall, log_file, Logging::ToFile);

}  // namespace
}  // namespace quorlan::bench
