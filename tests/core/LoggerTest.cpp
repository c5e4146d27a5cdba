#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "log/Logger.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::testing {
namespace {

constexpr const char* kLog = "C:\\Station\\host.log";

TEST(LogLine, IsTimeStampSpaceText) {
  EXPECT_EQ(Logger::FormatLine({14, 5, 9, 42}, "abc"), "14:05:09.042 abc");
  EXPECT_EQ(Logger::FormatLine({0, 0, 0, 0}, ""), "00:00:00.000 ");
  EXPECT_EQ(Logger::FormatLine({23, 59, 59, 999}, "x y"), "23:59:59.999 x y");
}

struct NameCase {
  const char* executable;
  const char* log;
};

class LogFileName : public ::testing::TestWithParam<NameCase> {};

TEST_P(LogFileName, ReplacesTheExtensionOfTheExecutable) {
  EXPECT_EQ(Logger::LogNameFor(GetParam().executable), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(Paths, LogFileName,
                         ::testing::Values(NameCase{"C:\\Station\\host.exe",
                                                    "C:\\Station\\host.log"},
                                           NameCase{"/usr/bin/quorlan", "/usr/bin/quorlan.log"},
                                           NameCase{"/opt/v1.2/host", "/opt/v1.2/host.log"},
                                           NameCase{"C:\\v1.2\\host", "C:\\v1.2\\host.log"},
                                           NameCase{"C:host.exe", "C:host.log"},
                                           NameCase{"D:\\a\\host.tar.gz", "D:\\a\\host.tar.log"}));

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { logger.StartLogger(); }
  std::string Content() const { return platform.Content(kLog); }
  MemoryLogPlatform platform;
  Logger logger{platform, 100};
};

TEST_F(LoggerTest, FirstLineOfALoadFollowsOneEmptyLine) {
  logger.Log(1, "abc");
  logger.StartLogger();  // a second factory call does not start a new paragraph
  logger.Log(1, "def");
  EXPECT_EQ(Content(), "\r\n14:05:09.042 abc\r\n14:05:09.042 def\r\n");
  EXPECT_EQ(logger.FileName(), kLog);
}

TEST_F(LoggerTest, AppendsToAnExistingFileWithoutTouchingIt) {
  platform.files[kLog] = "old\r\n";
  logger.Log(1, "new");
  EXPECT_EQ(Content(), "old\r\n\r\n14:05:09.042 new\r\n");
}

TEST(LoggerNotStarted, WritesNothing) {
  MemoryLogPlatform platform;
  Logger logger(platform);
  logger.Log(1, "lost");
  EXPECT_TRUE(platform.files.empty());
  EXPECT_TRUE(logger.FirstWrite());
}

TEST_F(LoggerTest, AFileExactlyAtTheLimitIsAppendedTo) {
  platform.files[kLog] = std::string(100, 'x');
  logger.Log(1, "a");
  EXPECT_FALSE(platform.Exists(std::string(kLog) + ".0"));
  EXPECT_EQ(Content(), std::string(100, 'x') + "\r\n14:05:09.042 a\r\n");
}

TEST_F(LoggerTest, AFileOneByteOverTheLimitIsRotatedBeforeTheLine) {
  platform.files[kLog] = std::string(101, 'x');
  logger.Log(1, "a");
  EXPECT_EQ(platform.Content(std::string(kLog) + ".0"), std::string(101, 'x'));
  EXPECT_EQ(Content(), "\r\n14:05:09.042 a\r\n");
  logger.Log(1, "b");
  EXPECT_EQ(Content(), "\r\n14:05:09.042 a\r\n14:05:09.042 b\r\n");
}

TEST_F(LoggerTest, RotationWithAllTenFilesDropsTheOldest) {
  for (int n = 0; n <= 9; ++n)
    platform.files[std::string(kLog) + "." + std::to_string(n)] = "f" + std::to_string(n);
  platform.files[kLog] = std::string(101, 'x');
  logger.Log(1, "a");
  for (int n = 1; n <= 9; ++n) {
    EXPECT_EQ(platform.Content(std::string(kLog) + "." + std::to_string(n)),
              "f" + std::to_string(n - 1));
  }
  EXPECT_EQ(platform.Content(std::string(kLog) + ".0"), std::string(101, 'x'));
  EXPECT_EQ(platform.files.size(), 11u);
}

TEST_F(LoggerTest, RotationKeepsTheGaps) {
  platform.files[std::string(kLog) + ".0"] = "zero";
  platform.files[std::string(kLog) + ".5"] = "five";
  platform.files[kLog] = std::string(101, 'x');
  logger.Log(1, "a");
  std::set<std::string> names;
  for (const auto& [name, content] : platform.files) names.insert(name);
  const std::string base = kLog;
  EXPECT_EQ(names, (std::set<std::string>{base, base + ".0", base + ".1", base + ".6"}));
  EXPECT_EQ(platform.Content(base + ".1"), "zero");
  EXPECT_EQ(platform.Content(base + ".6"), "five");
}

TEST_F(LoggerTest, AFailedOpenLosesTheLineAndKeepsTheParagraphBreakDue) {
  platform.failOpen = true;
  logger.Log(1, "lost");
  EXPECT_TRUE(platform.files.empty());
  EXPECT_TRUE(logger.FirstWrite());
  platform.failOpen = false;
  logger.Log(1, "kept");
  EXPECT_EQ(Content(), "\r\n14:05:09.042 kept\r\n");
}

TEST_F(LoggerTest, AFailedWriteIsSwallowedAndTheFileClosed) {
  platform.failWrite = true;
  logger.Log(1, "lost");
  EXPECT_EQ(platform.openHandles, 0);
  platform.failWrite = false;
  logger.Log(1, "kept");
  EXPECT_EQ(Content(), "\r\n14:05:09.042 kept\r\n");
}

// Real files: threads logging through rotations lose no line and tear none.
TEST(LoggerOnDisk, ConcurrentLinesSurviveRotationsWhole) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quorlan-log-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const std::string name = (dir / "host.log").string();
  Logger logger(SystemLogPlatform(), 6000);
  logger.SetFileName(name);

  constexpr int kThreads = 4;
  constexpr int kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&logger, t] {
      for (int i = 0; i < kLines; ++i) {
        logger.Log(1, "thread " + std::to_string(t) + " line " + std::to_string(i) + " end");
      }
    });
  }
  for (auto& thread : threads) thread.join();

  std::multiset<std::string> seen;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    ++files;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string content = all.str();
    std::size_t start = 0;
    while (start < content.size()) {
      const auto end = content.find("\r\n", start);
      ASSERT_NE(end, std::string::npos) << "torn line in " << entry.path();
      const std::string line = content.substr(start, end - start);
      if (!line.empty()) {
        ASSERT_GT(line.size(), 13u);
        ASSERT_EQ(line.substr(line.size() - 4), " end") << line;
        seen.insert(line.substr(13));
      }
      start = end + 2;
    }
  }
  std::filesystem::remove_all(dir);
  EXPECT_GT(files, 2);
  EXPECT_LE(files, 11);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) {
      EXPECT_EQ(seen.count("thread " + std::to_string(t) + " line " + std::to_string(i) + " end"),
                1u);
    }
  }
}

}  // namespace
}  // namespace quorlan::testing
