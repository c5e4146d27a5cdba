// SPDX-License-Identifier: Apache-2.0
#pragma once
// The commands clients queue for a line's worker, taken in order. A command
// runs a turn at a time as the poll schedule gives the line to it; the one
// whose turns have begun is out of the queue, the worker's own. A stop
// does not queue: it counts itself against its dispensers and answers their
// queued authorizations `stopped` at once. Once stopping, nothing more is
// taken and what is left is refused.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "station/model/Results.h"

namespace quorlan::station {

class CommandQueue {
 public:
  struct Command {
    // One turn's work; the answer once the command is done.
    std::function<std::optional<CommandResult>()> run;
    // How many polls' line time a turn of it holds the line for.
    std::size_t turns = 1;
    std::promise<CommandResult> promise;
    std::optional<int> authorizes;  // the dispenser an authorization is for
  };

  // The command's answer; Unavailable at once when stopping.
  std::future<CommandResult> Push(std::shared_ptr<Command> command);
  // These commands together, nothing queued between them.
  std::vector<std::future<CommandResult>> PushAll(
      const std::vector<std::shared_ptr<Command>>& commands);
  // Ahead of everything queued (the worker's own start).
  void PushFront(std::shared_ptr<Command> command);
  // False once stopping; else the turns of the command in progress or of the
  // next one queued, 0 with none waiting.
  bool NextTurns(std::size_t& turns);
  // The worker's thread: one turn of the command in progress, or of the next
  // one queued; its answer once it is done.
  void RunTurn();
  // Until `until`, a command or a stop, whichever comes first.
  void WaitUntil(std::chrono::steady_clock::time_point until);
  void Stop();
  // Refuses the command in progress and every one still queued: the service
  // is stopping.
  void RefuseRest();
  // Commands waiting (the one running aside).
  int Size();

  // The dispenser's stops so far.
  std::uint64_t Stops(int dispenser);
  // Counts a stop of each dispenser; their queued authorizations answer
  // "dispenser C/D: stopped".
  void CancelAuthorizations(int channel, const std::vector<int>& dispensers);
  // Whether a stop of the dispenser came since `stops` was counted.
  bool StoppedSince(int dispenser, std::uint64_t stops);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Command>> queue_;
  std::shared_ptr<Command> current_;    // the command whose turns have begun
  std::map<int, std::uint64_t> stops_;  // stops of each dispenser so far
  bool stopping_ = false;
};

}  // namespace quorlan::station
