// One log line against the bare system calls it needs: the size lookup for
// rotation, open for appending, write, close. Both write the same bytes to
// the same file system in the same run, so their ratio is the logger's cost.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/Win1251.h"
#include "log/Logger.h"
#include "support/ScratchDirectory.h"

namespace quorlan::bench {
namespace {

// A line the status poll writes.
const std::string kText(std::string("ЗАПРОС СОСТОЯНИЯ(1): A0"_w1251));

void LogLine(benchmark::State& state, bool toFile) {
  ScratchDirectory scratch;
  Logger logger(SystemLogPlatform());
  logger.SetFileName(toFile ? scratch.File("driver.log") : "");
  for (auto _ : state) logger.Log(kTraceLevel, kText);
}
BENCHMARK_CAPTURE(LogLine, off, false);
BENCHMARK_CAPTURE(LogLine, file, true);

void LogLineSyscallFloor(benchmark::State& state) {
  ScratchDirectory scratch;
  const std::string path = scratch.File("floor.log");
  // "hh:mm:ss.zzz " + text + CR LF, as the logger writes it.
  const std::string line = "08:30:00.000 " + kText + "\r\n";
  ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  for (auto _ : state) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    benchmark::DoNotOptimize(info.st_size);
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const auto written = ::write(fd, line.data(), line.size());
    benchmark::DoNotOptimize(written);
    ::close(fd);
  }
}
BENCHMARK(LogLineSyscallFloor);

}  // namespace
}  // namespace quorlan::bench
