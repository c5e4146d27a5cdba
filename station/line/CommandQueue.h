// SPDX-License-Identifier: Apache-2.0
#pragma once
// The commands clients queue for a line's worker, taken in order. A stop
// does not queue: it counts itself against its dispensers and answers their
// queued authorizations `stopped` at once. Once stopping, nothing more is
// taken and what is left is refused.

#include <chrono>
#include <condition_variable>
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
    std::function<CommandResult()> run;
    std::promise<CommandResult> promise;
    std::optional<int> authorizes;  // the dispenser an authorization is for
  };

  // The command's answer; Unavailable at once when stopping.
  std::future<CommandResult> Push(std::shared_ptr<Command> command);
  // False once stopping; else the next command, or none waiting.
  bool Next(std::shared_ptr<Command>& command);
  // Until `until`, a command or a stop, whichever comes first.
  void WaitUntil(std::chrono::steady_clock::time_point until);
  void Stop();
  // Refuses every command still queued: the service is stopping.
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
  std::map<int, std::uint64_t> stops_;  // stops of each dispenser so far
  bool stopping_ = false;
};

}  // namespace quorlan::station
