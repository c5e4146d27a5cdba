#pragma once
// Whose turn the line gives next: a dispenser's poll, or the command at the
// head of the worker's queue (one exchange of a totals read, one
// dispenser's price download). Each turn owes credit to whoever must come
// round: each idle dispenser within 29/32 of two plain sweeps of the line;
// each busy one (authorized, filling, stopped with the nozzle up, finished)
// at least every 4th turn, the interval its progress needs; a waiting
// command at least every 16th turn, so none waits for ever. What is left
// goes to the commands (one that holds the line for longer than a poll only
// where it ends before a busy dispenser is due), then to the busy
// dispensers in turn. A command that comes to a quiet line goes at once,
// unless an idle dispenser is due. With 2 of 32 filling and nothing queued,
// each is polled about every 4th turn; with 1 filling and a shift close's
// reads queued, the reads get about a quarter of the line and the filling
// dispenser still every 4th turn.

#include <cstddef>
#include <vector>

namespace quorlan::station {

class PollSchedule {
 public:
  // The turn of the command waiting; dispensers are numbered from 1.
  static constexpr int kCommandTurn = 0;

  explicit PollSchedule(std::vector<int> dispensers);

  void SetBusy(int dispenser, bool busy);
  // The dispenser to poll, or kCommandTurn. `commandTurns`: how many polls'
  // line time the waiting command's next turn holds the line for, 0 when
  // none waits. A command takes a spare turn only when no busy dispenser
  // comes due before it ends.
  int Next(std::size_t commandTurns);

 private:
  // Adds one turn's credit to each group.
  void Accrue();
  int NextBusy();
  int NextIdle();

  std::vector<int> dispensers_;
  std::vector<bool> busy_;
  // What each group is owed, in 1/period (idle) or 1/interval (busy) of a
  // turn: each turn adds the group's size, a poll of the group takes one
  // whole period or interval.
  std::size_t idleCredit_ = 0;
  std::size_t busyCredit_ = 0;
  // Turns since a command had one.
  std::size_t commandWait_;
  std::size_t busyCursor_ = 0;
  std::size_t idleCursor_ = 0;
};

}  // namespace quorlan::station
