// SPDX-License-Identifier: Apache-2.0
// The stamped log of the service and the command-line tool: RFC 3339 stamps,
// UTF-8 lines, the level threshold, and a failure repeating written once and
// then counted at most once a minute.

#include <gtest/gtest.h>

#include "base/Win1251.h"
#include "log/Logger.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::testing {
namespace {

constexpr const char* kLog = "/var/log/quorlan/driver.log";

LocalTime At(std::int64_t seconds, int offsetMinutes = 60) {
  return {.hour = 14,
          .minute = 5,
          .second = 9,
          .millisecond = 42,
          .year = 2026,
          .month = 3,
          .day = 1,
          .utcOffsetMinutes = offsetMinutes,
          .epochMilliseconds = 1'772'370'309'042 + seconds * 1000};
}

TEST(StampedLogLine, IsAnRfc3339StampAndTheTextInUtf8OnOneLine) {
  struct Case {
    const char* what;
    LocalTime time;
    std::string text;
    std::string line;
  };
  const Case cases[] = {
      {"east of UTC", At(0, 60), "abc", "2026-03-01T14:05:09.042+01:00 abc"},
      {"west, half hours", At(0, -330), "abc", "2026-03-01T14:05:09.042-05:30 abc"},
      {"UTC", At(0, 0), "", "2026-03-01T14:05:09.042Z "},
      {"first of the year",
       {.hour = 0, .minute = 0, .second = 0, .millisecond = 7, .year = 2027, .month = 1, .day = 9},
       "x",
       "2027-01-09T00:00:00.007Z x"},
      {"the driver's Windows-1251 words", At(0), std::string("ЗАПРОС СОСТОЯНИЯ(3): 05"_w1251),
       "2026-03-01T14:05:09.042+01:00 ЗАПРОС СОСТОЯНИЯ(3): 05"},
      {"line ends and control bytes inside a text", At(0), "a\r\nb\tc\x7F",
       "2026-03-01T14:05:09.042+01:00 a  b c "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Logger::FormatStampedLine(c.time, c.text), c.line) << c.what;
  }
}

class StampedLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.now = At(0);
    logger.SetFileName(kLog);
    logger.SetThreshold(kInfoLevel);
  }
  void LogAt(std::int64_t seconds, std::uint8_t level, std::string_view text) {
    platform.now = At(seconds);
    logger.Log(level, text);
  }
  // The texts of the file's lines, each checked for its stamp and LF end.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    const std::string content = platform.Content(kLog);
    EXPECT_EQ(content.find('\r'), std::string::npos);
    const std::string stamp = "2026-03-01T14:05:09.042+01:00 ";
    for (std::size_t start = 0; start < content.size();) {
      const auto end = content.find('\n', start);
      EXPECT_NE(end, std::string::npos) << "a line without its end";
      if (end == std::string::npos) break;
      const std::string line = content.substr(start, end - start);
      EXPECT_EQ(line.rfind(stamp, 0), 0u) << line;
      texts.push_back(line.substr(std::min(stamp.size(), line.size())));
      start = end + 1;
    }
    return texts;
  }

  MemoryLogPlatform platform;
  Logger logger{platform, kMaxLogSize, LogFormat::Stamped};
};

TEST_F(StampedLoggerTest, TraceLinesStayOutAtTheInfoLevelAndNoBlankLineStartsTheLoad) {
  LogAt(0, kTraceLevel, "Verif(1)");
  LogAt(0, kInfoLevel, "COMMAND STOP");
  LogAt(0, kFailureLevel, "channel 1, dispenser 2: no reply");
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{"COMMAND STOP", "channel 1, dispenser 2: no reply"}));
  logger.SetThreshold(kTraceLevel);
  LogAt(0, kTraceLevel, "Verif(1)");
  EXPECT_EQ(Texts().back(), "Verif(1)");
}

TEST_F(StampedLoggerTest, AFailureRepeatingIsWrittenOnceThenCountedOnceAMinute) {
  const std::string down = "channel 1, dispenser 2: no reply";
  const std::string other = "channel 1, dispenser 3: no reply";
  const std::string counted = down + " \u2026 repeated ";
  // A dead line polled twice a second for three minutes, with a second
  // dispenser failing once and a command in between.
  LogAt(0, kFailureLevel, other);
  for (int half = 0; half < 360; ++half) {
    LogAt(half / 2, kFailureLevel, down);
    if (half == 100) LogAt(half / 2, kInfoLevel, "COMMAND STOP");
  }
  EXPECT_EQ(Texts(), (std::vector<std::string>{other, down, "COMMAND STOP", counted + "119 times",
                                               counted + "120 times"}));
  // Once it stops, the count still held back goes out with the next line
  // or at a reopen, and after a quiet minute the failure is news again.
  logger.Reopen();
  EXPECT_EQ(Texts().back(), counted + "120 times");
  LogAt(400, kFailureLevel, down);
  LogAt(401, kFailureLevel, down);
  LogAt(470, kInfoLevel, "COMMAND STOP");
  const auto texts = Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ((std::vector<std::string>(texts.end() - 3, texts.end())),
            (std::vector<std::string>{down, counted + "1 time", "COMMAND STOP"}));
}

TEST_F(StampedLoggerTest, AClockSetBackReleasesTheCountInsteadOfHoldingItForever) {
  const std::string down = "channel 2: no reply";
  LogAt(100, kFailureLevel, down);
  LogAt(101, kFailureLevel, down);
  LogAt(5, kInfoLevel, "line 2 down");
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{down, down + " \u2026 repeated 1 time", "line 2 down"}));
}

TEST(HostLogger, KeepsItsFormatWhateverTheLevels) {
  MemoryLogPlatform platform;
  Logger logger(platform);
  logger.StartLogger();
  logger.Log(kTraceLevel, "Verif(1)");
  logger.Log(kFailureLevel, "a");
  logger.Log(kFailureLevel, "a");
  EXPECT_EQ(platform.Content("C:\\Station\\host.log"),
            "\r\n14:05:09.042 Verif(1)\r\n14:05:09.042 a\r\n14:05:09.042 a\r\n");
}

}  // namespace
}  // namespace quorlan::testing
