// SPDX-License-Identifier: Apache-2.0
#pragma once
// Times an operation over a paced line, one run an iteration, and reports
// the figures of the line table: the line bytes a run, the median exchange
// and the ideal line time in ms, their ratio, and the calling thread's
// median CPU in µs.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace quorlan::bench {

double Median(std::vector<double> values);

// `run` once untimed (first contact), then once an iteration; `lineBytes`
// counts the bytes the line has carried so far.
void TimeOverTheLine(benchmark::State& state, const std::function<void()>& run,
                     const std::function<std::uint64_t()>& lineBytes);

}  // namespace quorlan::bench
