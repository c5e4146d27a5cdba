#pragma once
// Ctrl-C and SIGTERM end the long-running commands (watch, demo, sim)
// cleanly instead of killing them mid-exchange.

#include <chrono>
#include <csignal>

namespace quorlan::cli {

// While it lives, SIGINT and SIGTERM only set the stop request (without
// SA_RESTART, so blocking calls return); the old handlers come back after.
class StopSignalScope {
 public:
  StopSignalScope();
  ~StopSignalScope();
  StopSignalScope(const StopSignalScope&) = delete;
  StopSignalScope& operator=(const StopSignalScope&) = delete;

 private:
  struct sigaction oldInterrupt_ {};
  struct sigaction oldTerminate_ {};
};

bool StopRequested();
// Sleeps, but returns early once a stop was requested.
void SleepUnlessStopped(std::chrono::milliseconds time);

}  // namespace quorlan::cli
