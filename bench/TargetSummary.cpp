#include "TargetSummary.h"

#include <unistd.h>

#include <cstdio>

#include "support/TargetRows.h"

namespace quorlan::bench {
namespace {

std::string NameOf(const benchmark::BenchmarkReporter::Run& run) {
  const auto& name = run.run_name;
  return name.args.empty() ? name.function_name : name.function_name + "/" + name.args;
}

}  // namespace

TargetSummary::TargetSummary()
    : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

void TargetSummary::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    // One figure a benchmark: its median when repeated, else its only run.
    const bool repeated = run.repetitions > 1;
    const bool wanted = repeated
                            ? run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"
                            : run.run_type == Run::RT_Iteration;
    if (!wanted || run.error_occurred) continue;
    const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
    figures_[NameOf(run)] = {run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit,
                             run.counters};
  }
}

const TargetSummary::Figures* TargetSummary::Find(const std::string& name) const {
  const auto found = figures_.find(name);
  return found == figures_.end() ? nullptr : &found->second;
}

double TargetSummary::Counter(const std::string& name, const std::string& counter) const {
  const Figures* figures = Find(name);
  if (!figures) return 0;
  const auto found = figures->counters.find(counter);
  return found == figures->counters.end() ? 0 : double(found->second);
}

void TargetSummary::Finalize() {
  ConsoleReporter::Finalize();
  std::printf("\n");
  Row("figure", "measured", "target", "verdict");
  PrintLineRows();
  PrintScaleRows();
  PrintCpuRows();
  PrintStationRows();
}

void TargetSummary::PrintLineRows() const {
  for (const auto& [name, figures] : figures_) {
    if (name.rfind("Line/", 0) != 0) continue;
    const double ratio = Counter(name, "ratio");
    const bool targeted = name == "Line/status_poll" || name == "Line/status_sweep_32" ||
                          name == "Line/gauge_inventory_16";
    Row(name.substr(5) + ": exchange / line time",
        Format("%.3f (%.2f / %.2f ms)", ratio, Counter(name, "median_ms"),
               Counter(name, "ideal_ms")),
        targeted ? "<= 1.05" : "", targeted ? Verdict(ratio <= 1.05) : "");
  }
  // What the driver, the dispatcher and Asio add to a plain read loop.
  const double stack = Counter("Line/status_poll", "median_ms");
  const double bare = Counter("Line/status_poll_bare", "median_ms");
  if (stack > 0 && bare > 0) {
    Row("status_poll: driver stack over a bare client",
        Format("%+.3f ms (%.2f - %.2f ms)", stack - bare, stack, bare), "", "");
    // Most of a poll's CPU is waking up for each paced byte, which the bare
    // loop pays as well.
    Row("status_poll: thread CPU, stack / bare",
        Format("%.0f / %.0f us", Counter("Line/status_poll", "cpu_us"),
               Counter("Line/status_poll_bare", "cpu_us")),
        "", "");
  }
}

void TargetSummary::PrintScaleRows() const {
  const double single = Counter("ChannelsInParallel/channels:1", "polls_per_s");
  for (int channels : {1, 8, 32}) {
    const std::string name = "ChannelsInParallel/channels:" + std::to_string(channels);
    if (!Find(name) || single <= 0) continue;
    const double rate = Counter(name, "polls_per_s");
    const double ratio = rate / (channels * single);
    const bool targeted = channels == 32;
    Row(Format("%.0f channels: polls/s / (channels x single)", channels),
        Format("%.3f (%.1f / %.1f)", ratio, rate, channels * single), targeted ? ">= 0.90" : "",
        targeted ? Verdict(ratio >= 0.90) : "");
    const double share = Counter(name, "cpu_pct_of_line");
    Row(Format("%.0f channels: driver-side CPU / line time", channels),
        Format("%.2f%% (%.1f us a poll)", share, Counter(name, "cpu_us_per_poll")), "< 2%",
        Verdict(share < 2));
  }
}

void TargetSummary::PrintCpuRows() const {
  if (const Figures* poll = Find("NozzleStatusCall/log_off")) {
    const double micros = poll->cpuSeconds * 1e6;
    Row("GetNozzleStatus, logging off: CPU", Format("%.3f us", micros), "<= 2 us",
        Verdict(micros <= 2));
  }
  const Figures* floor = Find("LogLineSyscallFloor");
  if (!floor) return;
  if (const Figures* line = Find("LogLine/file")) {
    const double ratio = line->cpuSeconds / floor->cpuSeconds;
    Row("log line / bare system calls",
        Format("%.3f (%.2f / %.2f us)", ratio, line->cpuSeconds * 1e6, floor->cpuSeconds * 1e6),
        "<= 1.5", Verdict(ratio <= 1.5));
  }
  // The same, for the lines a status request writes among its other work.
  const Figures* off = Find("NozzleStatusCall/log_off");
  const Figures* file = Find("NozzleStatusCall/log_file");
  const double lines = Counter("NozzleStatusCall/log_file", "log_lines");
  if (off && file && lines > 0) {
    const double perLine = (file->cpuSeconds - off->cpuSeconds) / lines;
    const double ratio = perLine / floor->cpuSeconds;
    Row(Format("GetNozzleStatus: each of its %.0f log lines", lines),
        Format("%.3f (%.2f / %.2f us)", ratio, perLine * 1e6, floor->cpuSeconds * 1e6), "<= 1.5",
        Verdict(ratio <= 1.5));
  }
}

}  // namespace quorlan::bench
