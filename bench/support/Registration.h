// SPDX-License-Identifier: Apache-2.0
#pragma once
// A benchmark that runs once and reports its own measured time: a failed
// set-up is reported as the benchmark's error instead of ending the run.

#include <benchmark/benchmark.h>

#include <exception>

namespace quorlan::bench {

inline void RegisterTimedOnce(const char* name, void (*run)(benchmark::State&)) {
  benchmark::RegisterBenchmark(name,
                               [run](benchmark::State& state) {
                                 try {
                                   run(state);
                                 } catch (const std::exception& error) {
                                   state.SkipWithError(error.what());
                                 }
                               })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace quorlan::bench
