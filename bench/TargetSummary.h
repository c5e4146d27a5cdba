#pragma once
// The console report, followed by one table of the figures the performance
// targets speak of, each computed from the figures of this same run (the
// medians, when the run repeats the benchmarks).

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace quorlan::bench {

class TargetSummary : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal.
  TargetSummary();
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  struct Figures {
    double realSeconds = 0;
    double cpuSeconds = 0;
    benchmark::UserCounters counters;
  };
  const Figures* Find(const std::string& name) const;
  double Counter(const std::string& name, const std::string& counter) const;
  void PrintLineRows() const;
  void PrintScaleRows() const;
  void PrintCpuRows() const;
  void PrintStationRows() const;  // StationTargets.cpp

  std::map<std::string, Figures> figures_;
};

}  // namespace quorlan::bench
