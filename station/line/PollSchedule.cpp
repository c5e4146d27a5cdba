#include "station/line/PollSchedule.h"

#include <algorithm>
#include <stdexcept>

namespace quorlan::station {

PollSchedule::PollSchedule(std::vector<int> dispensers)
    : dispensers_(std::move(dispensers)), busy_(dispensers_.size(), false) {
  if (dispensers_.empty()) throw std::invalid_argument("a line without dispensers");
}

void PollSchedule::SetBusy(int dispenser, bool busy) {
  const auto at = std::find(dispensers_.begin(), dispensers_.end(), dispenser);
  if (at != dispensers_.end()) busy_[static_cast<std::size_t>(at - dispensers_.begin())] = busy;
}

int PollSchedule::NextOf(bool busy) {
  std::size_t& cursor = busy ? busyCursor_ : idleCursor_;
  for (std::size_t step = 0; step < dispensers_.size(); ++step) {
    const std::size_t at = (cursor + step) % dispensers_.size();
    if (busy_[at] == busy) {
      cursor = at + 1;
      return dispensers_[at];
    }
  }
  return 0;
}

int PollSchedule::Next() {
  const auto count = dispensers_.size();
  const auto idle = static_cast<std::size_t>(std::count(busy_.begin(), busy_.end(), false));
  if (idle == 0 || idle == count) {
    idleCredit_ = 0;
    return NextOf(idle == 0);
  }
  // The longest an idle dispenser waits, in polls.
  const std::size_t period = 2 * count - count / 8;
  idleCredit_ += idle;
  if (idleCredit_ < period) return NextOf(true);
  idleCredit_ -= period;
  return NextOf(false);
}

}  // namespace quorlan::station
