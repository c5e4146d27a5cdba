#pragma once
// Which dispenser of a line to poll next. Busy dispensers (authorized,
// filling, stopped with the nozzle up, finished) come round more often: after
// every `busyPerIdle` busy polls one idle dispenser gets its turn, so none is
// ever starved. Each group is served in turn.

#include <cstddef>
#include <vector>

namespace quorlan::station {

class PollSchedule {
 public:
  explicit PollSchedule(std::vector<int> dispensers, int busyPerIdle = 4);

  void SetBusy(int dispenser, bool busy);
  int Next();

 private:
  int NextOf(bool busy);

  std::vector<int> dispensers_;
  std::vector<bool> busy_;
  int busyPerIdle_;
  int busySinceIdle_ = 0;
  std::size_t busyCursor_ = 0;
  std::size_t idleCursor_ = 0;
};

}  // namespace quorlan::station
