// SPDX-License-Identifier: Apache-2.0
// What a client sends reaches the audit log as one line of printable UTF-8:
// a terminal that shows the log runs none of its escape sequences.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "station/router/Audit.h"
#include "station/base/LogText.h"
#include "station/base/RepeatFilter.h"

namespace quorlan::testing {
namespace {

struct Case {
  std::string text;
  std::string logged;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"/api/v1/fills", "/api/v1/fills"},
      {"/\x1b[2J\x1b[31mred", "/\\x1B[2J\\x1B[31mred"},
      {"/a\nb\rc\td", "/a\\x0Ab\\x0Dc\\x09d"},
      {std::string("/nul\0x", 6), "/nul\\x00x"},
      {"/del\x7f", "/del\\x7F"},
      {"/c1\xc2\x9b"
       "31m",
       "/c1\\xC2\\x9B31m"},
      {"/back\\slash", "/back\\\\slash"},
      {"/caf\xc3\xa9-\xe2\x82\xac", "/caf\xc3\xa9-\xe2\x82\xac"},
      {"/bad\xff\xc3", "/bad\\xFF\\xC3"},
      {"/overlong\xc0\xaf", "/overlong\\xC0\\xAF"},
      {"/surrogate\xed\xa0\x80", "/surrogate\\xED\\xA0\\x80"},
      {"=HYPERLINK(\"x\")", "=HYPERLINK(\"x\")"},
  };
  return cases;
}

TEST(LogText, ControlCharactersAndStrayBytesAreEscaped) {
  for (const Case& c : Cases()) EXPECT_EQ(station::LogText(c.text), c.logged) << c.logged;
}

TEST(LogText, TheAuditLogWritesEveryRequestOnOneLine) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorlan-audit-test-" + std::to_string(::getpid()) + ".log");
  std::filesystem::remove(path);
  {
    station::AuditLog audit(path.string(), true);
    for (const Case& c : Cases()) audit.Record("pos\x1b]0;x\x07", "GET", c.text, 404, c.text);
  }
  std::ifstream file(path);
  std::string line;
  std::size_t lines = 0;
  while (std::getline(file, line)) {
    const Case& c = Cases().at(lines++);
    EXPECT_NE(line.find(" pos\\x1B]0;x\\x07 GET " + c.logged + " 404 " + c.logged),
              std::string::npos)
        << line;
    for (const char ch : line) EXPECT_FALSE(ch >= 0 && ch < 0x20) << line;
  }
  EXPECT_EQ(lines, Cases().size());
  std::filesystem::remove(path);
}

// A failure on every request for minutes: a line, then a summary a minute.
TEST(LogText, ARepeatingFailureIsWrittenOnceThenSummarized) {
  using std::chrono::seconds;
  struct Step {
    int at;  // seconds
    const char* line;
    std::vector<std::string> written;
  };
  const Step steps[] = {
      {0, "disk full", {"disk full"}},
      {1, "disk full", {}},
      {30, "disk full", {}},
      {59, "disk full", {}},
      {60, "disk full", {"disk full (repeated 4 times)"}},
      {61, "disk full", {}},
      {62, "locked", {"disk full (repeated 1 times)", "locked"}},
      {63, "disk full", {"disk full"}},
      {200, "disk full", {"disk full (repeated 1 times)"}},
  };
  station::RepeatFilter filter;
  const auto start = station::RepeatFilter::Clock::time_point{} + std::chrono::hours(1);
  for (const Step& step : steps) {
    EXPECT_EQ(filter.Take(step.line, start + seconds(step.at)), step.written) << step.at;
  }
}

}  // namespace
}  // namespace quorlan::testing
