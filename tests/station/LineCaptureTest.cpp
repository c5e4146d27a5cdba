// SPDX-License-Identifier: Apache-2.0
// A line's capture on a disk that fails: said once, its return said once,
// the records meanwhile dropped, and the line never kept waiting.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "station/line/LineCapture.h"

namespace quorlan::station {
namespace {

namespace fs = std::filesystem;

TEST(LineCapture, AFailingDiskIsSaidOnceAndItsReturnOnce) {
  const fs::path folder =
      fs::temp_directory_path() / ("quorlan-line-capture-" + std::to_string(getpid()));
  fs::remove_all(folder);
  const std::string path = (folder / "line.pcap").string();
  std::mutex mutex;
  std::vector<std::string> said;
  const auto say = [&](const std::string& text) {
    std::lock_guard lock(mutex);
    said.push_back(text);
  };
  const auto waitUntilSaid = [&](std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard lock(mutex);
        if (said.size() >= count) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  const std::uint8_t request[] = {0xF0, 0x0F, 0xA1, 0x5E};
  const auto now = [] { return std::chrono::system_clock::now(); };
  {
    // The folder is missing: every record fails, and the end writes what is queued.
    LineCapture capture(7, path, {}, say);
    for (int i = 0; i < 3; ++i) capture.Record(true, request, now());
  }
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("line 7: capture: " + path), std::string::npos) << said[0];
  EXPECT_NE(said[0].find("the line goes on without it"), std::string::npos) << said[0];
  {
    LineCapture capture(7, path, {}, say);
    capture.Record(true, request, now());
    waitUntilSaid(2);
    fs::create_directories(folder);
    capture.Record(false, request, now());
    waitUntilSaid(3);
  }
  ASSERT_EQ(said.size(), 3u);
  EXPECT_EQ(said[2], "line 7: capture " + path + " written again");
  const auto records = pcap::Read(path);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].fromHost);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorlan::station
