#pragma once
// Hosts run with floating-point exceptions unmasked; the driver computes with
// all of them masked. Every host-callable function switches to the driver's
// state on entry and back to the host's before it returns or calls the host.

#include <cstdint>

namespace quorlan::entry {

struct FloatingPointState {
  std::uint16_t x87Control = 0;
  std::uint32_t mxcsr = 0;
};

// Double precision, round to nearest, every exception masked.
inline constexpr FloatingPointState kDriverFloatingPoint{0x027F, 0x1F80};

FloatingPointState CurrentFloatingPoint();
// Clears pending x87 exceptions first, so an unmasking control word cannot
// fire on a flag the driver left behind.
void LoadFloatingPoint(const FloatingPointState& state);

// Entering from the host: remembers the host's state for calls back into it
// and loads the driver's. Returns what LeaveFromHost needs.
struct HostFrame {
  FloatingPointState host;
  FloatingPointState outer;  // the host state of an enclosing entry, if any
};
HostFrame EnterFromHost();
void LeaveToHost(const HostFrame& frame);

// The host's state of the innermost entry on this thread.
FloatingPointState HostFloatingPoint();

}  // namespace quorlan::entry
