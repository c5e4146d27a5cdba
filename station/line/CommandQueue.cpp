// SPDX-License-Identifier: Apache-2.0
#include "station/line/CommandQueue.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>

namespace quorlan::station {

std::future<CommandResult> CommandQueue::Push(std::shared_ptr<Command> command) {
  auto future = command->promise.get_future();
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      command->promise.set_value({Outcome::Unavailable, "the service is stopping", {}});
      return future;
    }
    queue_.push_back(std::move(command));
  }
  changed_.notify_all();
  return future;
}

std::vector<std::future<CommandResult>> CommandQueue::PushAll(
    const std::vector<std::shared_ptr<Command>>& commands) {
  std::vector<std::future<CommandResult>> futures;
  for (const auto& command : commands) futures.push_back(command->promise.get_future());
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      for (const auto& command : commands) {
        command->promise.set_value({Outcome::Unavailable, "the service is stopping", {}});
      }
      return futures;
    }
    queue_.insert(queue_.end(), commands.begin(), commands.end());
  }
  changed_.notify_all();
  return futures;
}

void CommandQueue::PushFront(std::shared_ptr<Command> command) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_front(std::move(command));
  }
  changed_.notify_all();
}

bool CommandQueue::NextTurns(std::size_t& turns) {
  std::lock_guard lock(mutex_);
  if (stopping_) return false;
  turns = 0;  // none waiting
  if (current_) {
    turns = current_->turns;
  } else if (!queue_.empty()) {
    turns = queue_.front()->turns;
  }
  return true;
}

void CommandQueue::RunTurn() {
  std::shared_ptr<Command> command;
  {
    std::lock_guard lock(mutex_);
    if (!current_) {
      // A stop may have cancelled what was waiting.
      if (queue_.empty()) return;
      current_ = queue_.front();
      queue_.pop_front();
    }
    command = current_;
  }
  std::optional<CommandResult> result;
  try {
    result = command->run();
  } catch (const std::exception& error) {
    result = CommandResult{Outcome::Unavailable, error.what(), {}};
  }
  if (!result) return;
  {
    std::lock_guard lock(mutex_);
    current_.reset();
  }
  command->promise.set_value(std::move(*result));
}

void CommandQueue::WaitUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, until, [this] { return stopping_ || current_ || !queue_.empty(); });
}

void CommandQueue::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

void CommandQueue::RefuseRest() {
  std::lock_guard lock(mutex_);
  if (current_) queue_.push_front(std::move(current_));
  for (auto& command : queue_) {
    command->promise.set_value({Outcome::Unavailable, "the service is stopping", {}});
  }
  queue_.clear();
}

int CommandQueue::Size() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size());
}

std::uint64_t CommandQueue::Stops(int dispenser) {
  std::lock_guard lock(mutex_);
  return stops_[dispenser];
}

void CommandQueue::CancelAuthorizations(int channel, const std::vector<int>& dispensers) {
  std::vector<std::shared_ptr<Command>> cancelled;
  {
    std::lock_guard lock(mutex_);
    for (int d : dispensers) ++stops_[d];
    std::erase_if(queue_, [&](const std::shared_ptr<Command>& command) {
      const bool mine = command->authorizes && std::find(dispensers.begin(), dispensers.end(),
                                                         *command->authorizes) != dispensers.end();
      if (mine) cancelled.push_back(command);
      return mine;
    });
  }
  for (auto& command : cancelled) {
    command->promise.set_value(
        {Outcome::Refused,
         fmt::format("dispenser {}/{}: stopped", channel, *command->authorizes),
         {}});
  }
}

bool CommandQueue::StoppedSince(int dispenser, std::uint64_t stops) {
  std::lock_guard lock(mutex_);
  return stops_[dispenser] != stops;
}

}  // namespace quorlan::station
