#include "Signals.h"

#include <algorithm>
#include <thread>

namespace quorlan::cli {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void OnStopSignal(int) {
  stopRequested = 1;
}

}  // namespace

StopSignalScope::StopSignalScope() {
  stopRequested = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, &oldInterrupt_);
  sigaction(SIGTERM, &action, &oldTerminate_);
}

StopSignalScope::~StopSignalScope() {
  sigaction(SIGINT, &oldInterrupt_, nullptr);
  sigaction(SIGTERM, &oldTerminate_, nullptr);
  stopRequested = 0;
}

bool StopRequested() {
  return stopRequested != 0;
}

void SleepUnlessStopped(std::chrono::milliseconds time) {
  constexpr std::chrono::milliseconds kSlice{20};
  for (auto left = time; left.count() > 0 && !StopRequested(); left -= kSlice) {
    std::this_thread::sleep_for(std::min(left, kSlice));
  }
}

}  // namespace quorlan::cli
