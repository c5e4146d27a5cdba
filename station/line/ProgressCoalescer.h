// SPDX-License-Identifier: Apache-2.0
#pragma once
// A line's dispenser views on their way to the event stream. A filling
// dispenser's figures change at every poll, tens of times a second, and
// every client would read each one: a view that only moves the volume and
// amount goes at most once a window per dispenser, the latest one, and one
// held back goes when its window ends. Anything else a client must act on (a
// state, a nozzle, a link, a fill, the unpaid count) goes at once, and
// carries the latest figures with it.

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "station/model/DispenserView.h"

namespace quorlan::station {

inline constexpr std::chrono::milliseconds kProgressWindow{100};

class ProgressCoalescer {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  explicit ProgressCoalescer(std::chrono::milliseconds window = kProgressWindow,
                             Clock clock = std::chrono::steady_clock::now);

  // The view to publish now, or nothing while it is held back.
  std::optional<DispenserView> Offer(const DispenserView& view);
  // The held views whose window has ended, to publish now.
  std::vector<DispenserView> Due();

 private:
  struct Dispenser {
    std::optional<DispenserView> sent;
    std::chrono::steady_clock::time_point sentAt;
    std::optional<DispenserView> held;
  };

  const std::chrono::milliseconds window_;
  const Clock clock_;
  std::mutex mutex_;
  std::map<int, Dispenser> dispensers_;
};

}  // namespace quorlan::station
