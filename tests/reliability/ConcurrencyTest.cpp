// 32 channels, one host thread each, against the in-process simulator: each
// channel's transcript equals the one the same work gives when the channels
// run one after another, and the shared log loses and tears no line across
// rotations. Built and run under ThreadSanitizer by `make test-tsan`.

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "ChannelWork.h"
#include "sim/SimDispatcher.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::reliability {
namespace {

constexpr int kLineCount = 32;
constexpr const char* kLog = "station.log";
// Small enough to rotate often, large enough that no rotated file is dropped.
constexpr std::int32_t kLogLimit = 64 * 1024;

struct Station {
  Station() {
    logger.SetFileName(kLog);
    for (int c = 1; c <= kLineCount; ++c) {
      lines[c] = MakeWorkLine();
      port.Attach(c, lines[c]);
    }
  }
  // Every log line of every file, without time stamps and paragraph breaks.
  std::multiset<std::string> Logged() const {
    std::multiset<std::string> texts;
    for (const auto& [name, content] : platform.files) {
      for (auto& text : platform.Texts(name)) {
        if (!text.empty()) texts.insert(text);
      }
    }
    return texts;
  }

  testing::MemoryLogPlatform platform;
  Logger logger{platform, kLogLimit};
  sim::SimDispatcher port;
  TVM30 driver{port, 0, logger};
  std::map<int, std::shared_ptr<sim::Line>> lines;
};

TEST(ThirtyTwoChannels, InParallelSeeWhatTheySeeOneAfterAnother) {
  Station serial;
  std::map<int, std::vector<std::string>> expected;
  for (int c = 1; c <= kLineCount; ++c) {
    expected[c] = RunChannelWork(serial.driver, *serial.lines[c], c);
  }

  Station parallel;
  std::map<int, std::vector<std::string>> seen;
  for (int c = 1; c <= kLineCount; ++c) seen[c];  // no insertion while threads run
  std::vector<std::thread> threads;
  for (int c = 1; c <= kLineCount; ++c) {
    threads.emplace_back(
        [&, c] { seen[c] = RunChannelWork(parallel.driver, *parallel.lines[c], c); });
  }
  for (auto& thread : threads) thread.join();

  for (int c = 1; c <= kLineCount; ++c) {
    EXPECT_EQ(seen[c], expected[c]) << "channel " << c;
  }
  EXPECT_GT(serial.platform.files.size(), 2u) << "the log should have rotated";
  EXPECT_LT(serial.platform.files.size(), 11u) << "a rotated file was dropped";
  EXPECT_EQ(parallel.Logged(), serial.Logged());
}

}  // namespace
}  // namespace quorlan::reliability
