// SPDX-License-Identifier: Apache-2.0
#pragma once
// Waits for a condition, never for a time: a loaded machine is slow, never
// wrong, so a test waits for what it needs with a generous deadline.

#include <chrono>
#include <functional>
#include <thread>

namespace quorlan::testing {

// Looks at the condition every 20 ms until it holds; false when the
// deadline passed first.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace quorlan::testing
