// SPDX-License-Identifier: Apache-2.0
#pragma once
// Turns on one line: the driver runs one operation of a channel at a time.
// The line's worker takes a turn for each operation and lets go in between
// (never across a journal write), so that a stop, taken on the caller's own
// thread, waits for at most the exchange on the line and goes ahead of the
// worker's next one.

#include <condition_variable>
#include <mutex>

namespace quorlan::station {

class LineGate {
 public:
  // The worker's turn: waits while a stop waits.
  std::unique_lock<std::mutex> Take();
  // A stop's turn: the next one the line gives.
  std::unique_lock<std::mutex> TakeFirst();

 private:
  std::mutex line_;
  std::mutex waitingMutex_;
  std::condition_variable noneWaiting_;
  int waiting_ = 0;
};

}  // namespace quorlan::station
