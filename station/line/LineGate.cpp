// SPDX-License-Identifier: Apache-2.0
#include "station/line/LineGate.h"

namespace quorlan::station {

std::unique_lock<std::mutex> LineGate::Take() {
  {
    std::unique_lock lock(waitingMutex_);
    noneWaiting_.wait(lock, [this] { return waiting_ == 0; });
  }
  // A stop that comes now still gets the next turn after this one.
  return std::unique_lock(line_);
}

std::unique_lock<std::mutex> LineGate::TakeFirst() {
  {
    std::lock_guard lock(waitingMutex_);
    ++waiting_;
  }
  std::unique_lock turn(line_);
  {
    std::lock_guard lock(waitingMutex_);
    --waiting_;
  }
  noneWaiting_.notify_all();
  return turn;
}

}  // namespace quorlan::station
