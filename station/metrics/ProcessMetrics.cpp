// SPDX-License-Identifier: Apache-2.0
#include "station/metrics/ProcessMetrics.h"

#include <fmt/format.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

namespace quorlan::station {

namespace {

// The fields of /proc/self/stat after the command's name, which may itself
// hold spaces and parentheses: field n of proc(5) is at n - 3.
std::vector<std::string> StatFields() {
  std::ifstream in("/proc/self/stat");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream rest(text.substr(close + 1));
  return {std::istream_iterator<std::string>(rest), std::istream_iterator<std::string>()};
}

std::optional<double> Field(const std::vector<std::string>& fields, std::size_t number) {
  if (number < 3 || number - 3 >= fields.size()) return std::nullopt;
  try {
    return std::stod(fields[number - 3]);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The machine's boot, in seconds since the epoch (proc(5): /proc/stat btime).
std::optional<double> BootTime() {
  std::ifstream in("/proc/stat");
  for (std::string key; in >> key;) {
    if (key == "btime") {
      double seconds = 0;
      if (in >> seconds) return seconds;
      return std::nullopt;
    }
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return std::nullopt;
}

void Write(std::string& out, std::string_view name, std::string_view type, std::string_view help,
           std::optional<double> value) {
  if (!value) return;
  out += fmt::format("# HELP {} {}\n# TYPE {} {}\n{} {}\n", name, help, name, type, name, *value);
}

}  // namespace

std::string ProcessMetricsText() {
  const auto fields = StatFields();
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
  std::optional<double> cpu;
  if (const auto user = Field(fields, 14), system = Field(fields, 15); user && system) {
    cpu = (*user + *system) / ticks;
  }
  std::optional<double> resident;
  if (const auto pages = Field(fields, 24)) resident = *pages * page;
  std::optional<double> started;
  if (const auto since = Field(fields, 22), boot = BootTime(); since && boot) {
    started = *boot + *since / ticks;
  }
  std::optional<double> open;
  std::error_code error;
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  // The listing's own descriptor was open while it counted.
  if (!error && count > 0) open = static_cast<double>(count - 1);
  std::optional<double> most;
  if (rlimit limit{}; getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    most = static_cast<double>(limit.rlim_cur);
  }

  std::string out;
  Write(out, "process_cpu_seconds_total", "counter",
        "Total user and system CPU time spent in seconds.", cpu);
  Write(out, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.", resident);
  Write(out, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.",
        Field(fields, 23));
  Write(out, "process_open_fds", "gauge", "Number of open file descriptors.", open);
  Write(out, "process_max_fds", "gauge", "Maximum number of open file descriptors.", most);
  Write(out, "process_start_time_seconds", "gauge",
        "Start time of the process since unix epoch in seconds.", started);
  return out;
}

}  // namespace quorlan::station
