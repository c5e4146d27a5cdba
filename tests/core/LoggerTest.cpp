#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

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

// Every line in the files of a folder: the texts after the time stamps,
// and apart from them every line that is not "hh:mm:ss.zzz text" CR LF.
struct DiskLog {
  std::multiset<std::string> texts;
  std::vector<std::string> torn;
  std::map<std::string, std::uintmax_t> sizes;  // by file name
};

DiskLog ReadLogFolder(const std::filesystem::path& dir) {
  DiskLog log;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string content = all.str();
    log.sizes[entry.path().filename().string()] = content.size();
    for (std::size_t start = 0; start < content.size();) {
      const auto end = content.find("\r\n", start);
      const std::string line = content.substr(start, end - start);
      if (end == std::string::npos || (!line.empty() && (line.size() < 13 || line[2] != ':'))) {
        log.torn.push_back(line);
      } else if (!line.empty()) {
        log.texts.insert(line.substr(13));
      }
      if (end == std::string::npos) break;
      start = end + 2;
    }
  }
  return log;
}

class ScratchFolder {
 public:
  ScratchFolder()
      : path_(std::filesystem::temp_directory_path() /
              ("quorlan-log-" + std::to_string(std::random_device()()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Real files: threads logging through rotations lose no line and tear none.
TEST(LoggerOnDisk, ConcurrentLinesSurviveRotationsWhole) {
  ScratchFolder dir;
  Logger logger(SystemLogPlatform(), 6000);
  logger.SetFileName(dir.File("host.log"));

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

  const DiskLog log = ReadLogFolder(dir.Path());
  EXPECT_EQ(log.torn, std::vector<std::string>());
  EXPECT_GT(log.sizes.size(), 2u);
  EXPECT_LE(log.sizes.size(), 11u);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) {
      EXPECT_EQ(
          log.texts.count("thread " + std::to_string(t) + " line " + std::to_string(i) + " end"),
          1u);
    }
  }
}

#if !defined(_WIN32)

// Runs `body` in a child process and waits for it to end by itself.
void InChild(const std::function<void()>& body) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// A log path naming a FIFO (with or without a reader) is skipped like any
// log failure: the call returns, nothing reaches the FIFO, and the logger
// goes on to a regular file afterwards.
TEST(LoggerOnDisk, AFifoIsSkippedWithoutBlocking) {
  for (const bool withReader : {false, true}) {
    SCOPED_TRACE(withReader ? "with a reader" : "without a reader");
    ScratchFolder dir;
    const std::string fifo = dir.File("host.log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const int reader = withReader ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    Logger logger(SystemLogPlatform(), 100);
    logger.SetFileName(fifo);
    auto call = std::async(std::launch::async, [&logger] { logger.Log(1, "into a fifo"); });
    if (call.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      // A reader lets the blocked open go on, so the test can end.
      const int release = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      call.wait();
      close(release);
      FAIL() << "Log blocked on the FIFO";
    }
    call.get();
    if (reader >= 0) {
      char byte = 0;
      EXPECT_LE(read(reader, &byte, 1), 0) << "a line reached the FIFO";
      close(reader);
    }
    EXPECT_TRUE(logger.FirstWrite());
    logger.SetFileName(dir.File("next.log"));
    logger.Log(1, "after");
    EXPECT_EQ(ReadLogFolder(dir.Path()).texts, std::multiset<std::string>{"after"});
  }
}

// A write cut short by the file size limit (or a full disk) leaves the file
// as it was: no torn line, and the next line that fits is not glued to one.
TEST(LoggerOnDisk, ALineThatDoesNotFitLeavesTheFileAsItWas) {
  ScratchFolder dir;
  const std::string name = dir.File("host.log");
  InChild([&] {
    // Past the limit a write would raise SIGXFSZ; the check is on the file.
    signal(SIGXFSZ, SIG_IGN);
    Logger logger(SystemLogPlatform());
    logger.SetFileName(name);
    logger.Log(1, "first");  // 2 + 13 + 5 + 2 = 22 bytes
    // Room for two more lines of 40 bytes and half of a third.
    const rlimit limit{22 + 40 * 2 + 20, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
    for (int i = 0; i < 4; ++i) logger.Log(1, "line " + std::to_string(i) + std::string(19, '.'));
    logger.Log(1, "short");  // 20 bytes still fit
  });
  const DiskLog log = ReadLogFolder(dir.Path());
  EXPECT_EQ(log.torn, std::vector<std::string>());
  const std::string dots(19, '.');
  EXPECT_EQ(log.texts,
            (std::multiset<std::string>{"first", "line 0" + dots, "line 1" + dots, "short"}));
}

// Processes sharing one log with a small limit: every line once and whole,
// and a rotation only when the file crossed the limit, once per crossing,
// so every rotated file is over the limit by less than one line.
TEST(LoggerOnDisk, ProcessesSharingALogLoseNoLineAndRotateOncePerCrossing) {
  constexpr int kRounds = 20;
  constexpr int kProcesses = 8;
  constexpr int kLines = 110;
  constexpr std::int32_t kLimit = 4096;
  const auto text = [](int p, int i) {
    return "process " + std::to_string(p) + " line " + std::to_string(i) + " end";
  };
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ScratchFolder dir;
    const std::string name = dir.File("host.log");
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        close(start[1]);
        char go = 0;
        (void)!read(start[0], &go, 1);  // all start together when the pipe closes
        Logger logger(SystemLogPlatform(), kLimit);
        logger.SetFileName(name);
        for (int i = 0; i < kLines; ++i) logger.Log(1, text(p, i));
        _exit(0);
      }
      children.push_back(child);
    }
    close(start[0]);
    close(start[1]);
    for (const pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const DiskLog log = ReadLogFolder(dir.Path());
    EXPECT_EQ(log.torn, std::vector<std::string>());
    EXPECT_EQ(log.texts.size(), std::size_t(kProcesses * kLines));
    for (int p = 0; p < kProcesses; ++p) {
      for (int i = 0; i < kLines; ++i) ASSERT_EQ(log.texts.count(text(p, i)), 1u) << text(p, i);
    }
    // The longest line with its paragraph break.
    const std::uintmax_t longest = 2 + 13 + text(kProcesses, kLines).size() + 2;
    EXPECT_GE(log.sizes.size(), 5u);
    for (const auto& [file, size] : log.sizes) {
      if (file == "host.log") continue;
      EXPECT_GT(size, std::uintmax_t(kLimit)) << file;
      EXPECT_LE(size, kLimit + longest) << file;
    }
  }
}

#endif

}  // namespace
}  // namespace quorlan::testing
