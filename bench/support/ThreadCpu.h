#pragma once
// CPU time of the calling thread, user and system: what the driver side
// spends, whatever the other threads of the process do meanwhile.

#include <time.h>

namespace quorlan::bench {

inline double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

}  // namespace quorlan::bench
