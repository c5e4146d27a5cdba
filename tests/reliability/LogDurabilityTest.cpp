// A host process killed at any moment keeps every line it finished logging.
// A child logs numbered lines through the real POSIX log platform and
// reports each completed Log call over a pipe; the parent SIGKILLs it at a
// random moment, again and again, with a size limit small enough that the
// kills also land inside rotations. Every reported line must be in the files,
// exactly once, and no line anywhere may be torn.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "log/Logger.h"

namespace quorlan::reliability {
namespace {

namespace fs = std::filesystem;

constexpr int kRounds = 24;
constexpr int kMaxLinesBeforeKill = 400;
// About 60 lines a file: a round rotates up to seven times, never dropping
// the files that hold its own lines.
constexpr std::int32_t kLogLimit = 4096;

// The line of round r, number i: its length varies so writes straddle the limit.
std::string LineText(int round, std::uint32_t i) {
  return "round " + std::to_string(round) + " line " + std::to_string(i) + " " +
         std::string(i % 23, '=') + "|";
}

[[noreturn]] void LogUntilKilled(const std::string& path, int round, int reports) {
  Logger logger(SystemLogPlatform(), kLogLimit);
  logger.SetFileName(path);
  // A parent slow to be scheduled must not let the child run so far ahead
  // that its own first lines rotate out of the ten files: past the most
  // lines a round waits for, and one file more, it waits to be killed.
  for (std::uint32_t i = 0; i < kMaxLinesBeforeKill + 60; ++i) {
    logger.Log(kTraceLevel, LineText(round, i));
    if (write(reports, &i, sizeof i) != sizeof i) _exit(1);
  }
  for (;;) pause();
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "quorlan-durability-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// Every line of every log file, by its text; torn lines are returned apart.
struct LogContents {
  std::multiset<std::string> texts;
  std::vector<std::string> torn;
};

LogContents ReadLog(const fs::path& dir) {
  static const std::regex kLine(R"(\d\d:\d\d:\d\d\.\d\d\d (round \d+ line \d+ =*\|))");
  LogContents contents;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string content = bytes.str();
    std::size_t start = 0;
    while (start < content.size()) {
      const auto end = content.find("\r\n", start);
      const std::string line = content.substr(start, end - start);
      std::smatch match;
      if (end == std::string::npos) {
        contents.torn.push_back(entry.path().filename().string() + ": " + line);
        break;
      }
      if (std::regex_match(line, match, kLine)) {
        contents.texts.insert(match[1]);
      } else if (!line.empty()) {
        contents.torn.push_back(entry.path().filename().string() + ": " + line);
      }
      start = end + 2;
    }
  }
  return contents;
}

TEST(LogDurability, EveryCompletedLineSurvivesSigkillAcrossRotations) {
  TempDir dir;
  const std::string path = (dir.Path() / "host.log").string();
  std::mt19937 random(20240601);
  int rotatedFiles = 0;

  for (int round = 0; round < kRounds; ++round) {
    int reports[2];
    ASSERT_EQ(pipe(reports), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(reports[0]);
      LogUntilKilled(path, round, reports[1]);
    }
    close(reports[1]);

    // Let it finish a random number of lines, then kill it at once: it is
    // logging the next line (or rotating) while we read.
    const auto target =
        std::uniform_int_distribution<std::uint32_t>(1, kMaxLinesBeforeKill)(random);
    std::uint32_t completed = 0, number = 0;
    while (completed < target && read(reports[0], &number, sizeof number) == sizeof number) {
      ASSERT_EQ(number, completed);
      ++completed;
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended by itself";
    // Reports still in the pipe belong to calls that completed before the kill.
    while (read(reports[0], &number, sizeof number) == sizeof number) ++completed;
    close(reports[0]);

    const LogContents log = ReadLog(dir.Path());
    EXPECT_EQ(log.torn, std::vector<std::string>()) << "round " << round;
    for (std::uint32_t i = 0; i < completed; ++i) {
      ASSERT_EQ(log.texts.count(LineText(round, i)), 1u) << "round " << round << " line " << i;
    }
    rotatedFiles = static_cast<int>(std::distance(fs::directory_iterator(dir.Path()), {})) - 1;
  }
  EXPECT_GE(rotatedFiles, 9) << "the kills should have landed across many rotations";
}

}  // namespace
}  // namespace quorlan::reliability
