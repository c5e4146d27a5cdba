#include "station/line/PollSchedule.h"

#include <algorithm>
#include <stdexcept>

namespace quorlan::station {

namespace {

// A busy dispenser is polled at least every this many turns.
constexpr std::size_t kBusyInterval = 4;
// A waiting command gets at least one turn in this many.
constexpr std::size_t kCommandShare = 16;

// The longest an idle dispenser waits, in turns: 29/32 of two plain sweeps
// of the line, rounded down, so that a loaded machine's slower polls still
// bring it round within two sweeps' time.
std::size_t Period(std::size_t count) {
  return 2 * count - count / 8 - count / 16;
}

// The credit left after a poll of a group that was owed `due` (none when it
// was not owed a whole one: it had a spare turn).
std::size_t Spend(std::size_t credit, std::size_t due) {
  return credit > due ? credit - due : 0;
}

}  // namespace

PollSchedule::PollSchedule(std::vector<int> dispensers)
    : dispensers_(std::move(dispensers)),
      busy_(dispensers_.size(), false),
      commandWait_(kCommandShare) {
  if (dispensers_.empty()) throw std::invalid_argument("a line without dispensers");
}

void PollSchedule::SetBusy(int dispenser, bool busy) {
  const auto at = std::find(dispensers_.begin(), dispensers_.end(), dispenser);
  if (at != dispensers_.end()) busy_[static_cast<std::size_t>(at - dispensers_.begin())] = busy;
}

int PollSchedule::NextBusy() {
  for (std::size_t step = 0; step < dispensers_.size(); ++step) {
    const std::size_t at = (busyCursor_ + step) % dispensers_.size();
    if (busy_[at]) {
      busyCursor_ = at + 1;
      busyCredit_ = Spend(busyCredit_, kBusyInterval);
      return dispensers_[at];
    }
  }
  return NextIdle();
}

int PollSchedule::NextIdle() {
  const std::size_t count = dispensers_.size();
  const std::size_t period = Period(count);
  for (std::size_t step = 0; step < count; ++step) {
    const std::size_t at = (idleCursor_ + step) % count;
    if (!busy_[at]) {
      idleCursor_ = at + 1;
      idleCredit_ = Spend(idleCredit_, period);
      return dispensers_[at];
    }
  }
  return NextBusy();
}

void PollSchedule::Accrue() {
  const auto idle = static_cast<std::size_t>(std::count(busy_.begin(), busy_.end(), false));
  const std::size_t busy = dispensers_.size() - idle;
  idleCredit_ += idle;
  // Never more than one poll in arrears: a group too big for its interval
  // takes every turn it can, and owes nothing once it is empty.
  busyCredit_ = busy == 0 ? 0 : std::min(busyCredit_ + busy, kBusyInterval + busy);
  commandWait_ = std::min(commandWait_ + 1, kCommandShare);
}

int PollSchedule::Next(std::size_t commandTurns) {
  const std::size_t count = dispensers_.size();
  const auto idle = static_cast<std::size_t>(std::count(busy_.begin(), busy_.end(), false));
  const std::size_t busy = count - idle;
  const std::size_t period = Period(count);
  const bool commandWaiting = commandTurns > 0;
  Accrue();

  int turn = kCommandTurn;
  if (idle > 0 && idleCredit_ >= period) {
    turn = NextIdle();
  } else if (commandWaiting && commandWait_ >= kCommandShare) {
    turn = kCommandTurn;
  } else if (busy > 0 && busyCredit_ >= kBusyInterval) {
    turn = NextBusy();
  } else if (commandWaiting && busyCredit_ + busy * commandTurns <= kBusyInterval) {
    turn = kCommandTurn;
  } else {
    turn = busy > 0 ? NextBusy() : NextIdle();
  }
  if (turn == kCommandTurn) {
    commandWait_ = 0;
    // The rest of the command's line time counts as turns gone by.
    for (std::size_t held = 1; held < commandTurns; ++held) Accrue();
  }
  return turn;
}

}  // namespace quorlan::station
