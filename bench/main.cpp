// Runs the benchmarks selected on the command line (all by default) and ends
// with the table of target figures.

#include <benchmark/benchmark.h>

#include "TargetSummary.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  quorlan::bench::TargetSummary summary;
  benchmark::RunSpecifiedBenchmarks(&summary);
  benchmark::Shutdown();
  return 0;
}
