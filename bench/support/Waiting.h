// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the benchmarks share around their measurements: a failed set-up stops
// the run with its reason, and a wait for a condition ends at a deadline.

#include <chrono>
#include <stdexcept>
#include <thread>

namespace quorlan::bench {

inline double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

inline void Require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(what);
}

// Polls the condition until it holds or the deadline passes: a loaded
// machine's paced line is slow, never stuck.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds deadline = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace quorlan::bench
