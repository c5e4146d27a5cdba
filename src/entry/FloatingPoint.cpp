#include "entry/FloatingPoint.h"

namespace quorlan::entry {

namespace {
// Outside any entry (tests calling the proxy directly) the host state is the
// driver's own.
thread_local FloatingPointState innermostHost = kDriverFloatingPoint;
}  // namespace

FloatingPointState CurrentFloatingPoint() {
  FloatingPointState state;
  asm volatile("fnstcw %0" : "=m"(state.x87Control));
  asm volatile("stmxcsr %0" : "=m"(state.mxcsr));
  return state;
}

void LoadFloatingPoint(const FloatingPointState& state) {
  asm volatile("fnclex\n\tfldcw %0" : : "m"(state.x87Control) : "memory");
  asm volatile("ldmxcsr %0" : : "m"(state.mxcsr) : "memory");
}

HostFrame EnterFromHost() {
  const HostFrame frame{CurrentFloatingPoint(), innermostHost};
  innermostHost = frame.host;
  LoadFloatingPoint(kDriverFloatingPoint);
  return frame;
}

void LeaveToHost(const HostFrame& frame) {
  innermostHost = frame.outer;
  LoadFloatingPoint(frame.host);
}

FloatingPointState HostFloatingPoint() {
  return innermostHost;
}

}  // namespace quorlan::entry
