#pragma once
// Calls a function the way an object-pascal host does: EAX, EDX, ECX loaded,
// stack values pushed in the given order, the callee expected to pop them.
// Reports what the callee left (registers, ST(0), floating-point state, how
// far ESP moved) and catches a structured exception with a frame-based
// handler, as the host's try/except would.

#include <cstdint>
#include <string>
#include <vector>

namespace quorlan::hosttest {

// A host that traps invalid operation, division by zero and overflow
// (0x1332 as loaded; the processor reads reserved bit 6 back as set).
inline constexpr std::uint16_t kHostX87Control = 0x1372;
inline constexpr std::uint32_t kHostMxcsr = 0x1900;

struct RegisterCall {
  const void* target = nullptr;
  std::uint32_t eax = 0, edx = 0, ecx = 0;
  std::vector<std::uint32_t> stack;  // in push order
  bool floatResult = false;          // pop ST(0) after the call
  std::uint16_t x87Control = kHostX87Control;
  std::uint32_t mxcsr = kHostMxcsr;
};

struct CallOutcome {
  std::uint32_t eax = 0;
  double st0 = 0;
  // ESP after the call minus ESP before the pushes: 0 when the callee popped
  // exactly what was pushed, -4 per dword left behind, +4 per dword too many.
  std::int32_t stackLeft = 0;
  // x87 stack entries the call left beyond its result.
  int x87Depth = 0;
  std::uint16_t x87Control = 0;
  std::uint32_t mxcsr = 0;

  bool raised = false;
  std::uint32_t code = 0;
  std::uint32_t flags = 0;
  std::uint32_t parameterCount = 0;
  std::string message;
  std::string className;
};

CallOutcome Call(const RegisterCall& call);

// A Double on the stack: high dword pushed first, so the value lies in
// memory order at the lower address.
inline void PushDouble(std::vector<std::uint32_t>& stack, double value) {
  std::uint32_t words[2];
  static_assert(sizeof words == sizeof value);
  __builtin_memcpy(words, &value, sizeof value);
  stack.push_back(words[1]);
  stack.push_back(words[0]);
}

template <class T>
std::uint32_t Dword(T* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace quorlan::hosttest
