#pragma once
// Which dispenser of a line to poll next. Busy dispensers (authorized,
// filling, stopped with the nozzle up, finished) get every poll the idle ones
// can spare: each idle dispenser comes round within 15/16 of two plain
// sweeps of the line, rounded up (the rest is left for commands and
// readouts), so none is ever starved; the busy ones share the other polls in
// turn. With 2 of 32 filling, each is polled every 4th poll.

#include <cstddef>
#include <vector>

namespace quorlan::station {

class PollSchedule {
 public:
  explicit PollSchedule(std::vector<int> dispensers);

  void SetBusy(int dispenser, bool busy);
  int Next();

 private:
  int NextOf(bool busy);

  std::vector<int> dispensers_;
  std::vector<bool> busy_;
  // Idle polls owed, in 1/period of a poll: each poll adds the idle count,
  // an idle poll takes a whole period.
  std::size_t idleCredit_ = 0;
  std::size_t busyCursor_ = 0;
  std::size_t idleCursor_ = 0;
};

}  // namespace quorlan::station
