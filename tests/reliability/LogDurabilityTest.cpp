// A host process killed at any moment keeps every line it finished logging.
// A child logs numbered lines through the real POSIX log platform and
// reports each completed Log call over a pipe; the parent SIGKILLs it at a
// random moment, again and again, with a size limit small enough that the
// kills also land inside rotations. Every reported line must be in the files,
// exactly once and whole; only the line a kill interrupted may be cut short.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "log/Logger.h"
#include "support/TempFolder.h"

namespace quorlan::reliability {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

constexpr int kRounds = 24;
constexpr int kMaxLinesBeforeKill = 400;
// How many lines the child may log past the last report the parent read: it
// keeps logging while the parent reads and kills, but no further, however
// fast it runs. Rotation drops the oldest file by design, so an unbounded
// lead would rotate the round's first lines out of the files.
constexpr int kLead = 256;
constexpr std::int32_t kLogLimit = 4096;
// The longest line on disk: time stamp, "round 23 line 655 ", 22 '=', '|', CR LF.
constexpr int kLongestLine = 13 + 18 + 22 + 1 + 2;
// A round's first line leaves the files only after ten more rotations, each
// of a file grown past the limit with the round's own lines.
static_assert(kMaxLinesBeforeKill + kLead <= 10 * (kLogLimit / kLongestLine),
              "a round must fit in the files the rotation keeps");

// The line of round r, number i: its length varies so writes straddle the limit.
std::string LineText(int round, std::uint32_t i) {
  return "round " + std::to_string(round) + " line " + std::to_string(i) + " " +
         std::string(i % 23, '=') + "|";
}

// Logs one line per credit read from `credits`, reporting each completed call.
[[noreturn]] void LogUntilKilled(const std::string& path, int round, int credits, int reports) {
  Logger logger(SystemLogPlatform(), kLogLimit);
  logger.SetFileName(path);
  for (std::uint32_t i = 0;; ++i) {
    char credit;
    if (read(credits, &credit, 1) != 1) _exit(1);
    logger.Log(kTraceLevel, LineText(round, i));
    if (write(reports, &i, sizeof i) != sizeof i) _exit(1);
  }
}

void Grant(int credits, int count) {
  const std::string bytes(static_cast<std::size_t>(count), '+');
  ASSERT_EQ(write(credits, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Every line of every log file, by its text; torn lines are returned apart,
// each with its file's name.
struct LogContents {
  std::multiset<std::string> texts;
  std::vector<std::pair<std::string, std::string>> torn;
};

// Whether `fragment` is a line on disk with `text`, cut short. Linux stops a
// write to a file between two pages when SIGKILL is pending, so the line
// being written at the kill may end early; the next process's paragraph
// break then ends the fragment.
bool IsCutFrom(const std::string& fragment, const std::string& text) {
  const std::string whole = "00:00:00.000 " + text + "\r\n";
  if (fragment.size() >= whole.size()) return false;
  for (std::size_t k = 0; k < fragment.size(); ++k) {
    const bool timeDigit = k < 12 && whole[k] == '0';
    if (timeDigit ? !std::isdigit(static_cast<unsigned char>(fragment[k]))
                  : fragment[k] != whole[k])
      return false;
  }
  return true;
}

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
        contents.torn.emplace_back(entry.path().filename().string(), line);
        break;
      }
      if (std::regex_match(line, match, kLine)) {
        contents.texts.insert(match[1]);
      } else if (!line.empty()) {
        contents.torn.emplace_back(entry.path().filename().string(), line);
      }
      start = end + 2;
    }
  }
  return contents;
}

TEST(LogDurability, EveryCompletedLineSurvivesSigkillAcrossRotations) {
  TempFolder dir{"quorlan-durability"};
  const std::string path = (dir.Path() / "host.log").string();
  std::mt19937 random(20240601);
  int rotatedFiles = 0;
  // Per round, the line whose Log call the kill interrupted: the only one
  // that may be cut short.
  std::vector<std::string> interrupted;

  for (int round = 0; round < kRounds; ++round) {
    int reports[2], credits[2];
    ASSERT_EQ(pipe(reports), 0);
    ASSERT_EQ(pipe(credits), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(reports[0]);
      close(credits[1]);
      LogUntilKilled(path, round, credits[0], reports[1]);
    }
    close(reports[1]);
    // The parent keeps the credits' read end until the kill, so a child that
    // ended early makes the test fail below rather than die of SIGPIPE.

    // Let it finish a random number of lines, then kill it at once: it is
    // logging the next line (or rotating) while we read.
    const auto target =
        std::uniform_int_distribution<std::uint32_t>(1, kMaxLinesBeforeKill)(random);
    Grant(credits[1], kLead);
    std::uint32_t completed = 0, number = 0;
    while (completed < target && read(reports[0], &number, sizeof number) == sizeof number) {
      ASSERT_EQ(number, completed);
      ++completed;
      if (completed < target) Grant(credits[1], 1);
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended by itself";
    // Reports still in the pipe belong to calls that completed before the kill.
    while (read(reports[0], &number, sizeof number) == sizeof number) ++completed;
    close(reports[0]);
    close(credits[0]);
    close(credits[1]);

    interrupted.push_back(LineText(round, completed));

    const LogContents log = ReadLog(dir.Path());
    for (const auto& [file, fragment] : log.torn) {
      EXPECT_TRUE(std::any_of(interrupted.begin(), interrupted.end(),
                              [&](const std::string& text) { return IsCutFrom(fragment, text); }))
          << "round " << round << ", torn line in " << file << ": " << fragment;
    }
    for (std::uint32_t i = 0; i < completed; ++i) {
      ASSERT_EQ(log.texts.count(LineText(round, i)), 1u) << "round " << round << " line " << i;
    }
    rotatedFiles = static_cast<int>(std::distance(fs::directory_iterator(dir.Path()), {})) - 1;
  }
  EXPECT_GE(rotatedFiles, 9) << "the kills should have landed across many rotations";
}

}  // namespace
}  // namespace quorlan::reliability
