// SPDX-License-Identifier: Apache-2.0
#pragma once
// A failure that repeats (every request while the disk is full, every poll of
// a dead dispenser) is written once; then how often it repeated, at most once
// an interval, and when another line comes. Safe to share between threads.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace quorlan::station {

class RepeatFilter {
 public:
  using Clock = std::chrono::steady_clock;
  explicit RepeatFilter(std::chrono::seconds interval = std::chrono::minutes(1))
      : interval_(interval) {}

  // The lines to write now for `line`, in order (often none).
  std::vector<std::string> Take(const std::string& line, Clock::time_point now = Clock::now());

 private:
  std::mutex mutex_;
  const std::chrono::seconds interval_;
  std::string last_;
  std::uint64_t repeats_ = 0;  // since last_ or its summary was written
  Clock::time_point written_{};
};

}  // namespace quorlan::station
