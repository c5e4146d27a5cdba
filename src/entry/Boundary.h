#pragma once
// The body of every function the host calls: the driver's floating-point
// state while the core runs, the host's again before returning, and any C++
// exception turned into the structured exception after every C++ object of
// the call has died.

#include <type_traits>

#include "entry/FloatingPoint.h"
#include "entry/StructuredException.h"

namespace quorlan::entry {

template <class Body>
bool RunCatching(Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    KeepCurrentException();
    return false;
  }
}

template <class Body>
auto RunForHost(Body&& body) {
  using Result = std::invoke_result_t<Body>;
  const HostFrame frame = EnterFromHost();
  if constexpr (std::is_void_v<Result>) {
    const bool done = RunCatching(body);
    LeaveToHost(frame);
    if (!done) RaiseKeptException();
  } else {
    static_assert(std::is_trivially_destructible_v<Result>);
    Result result{};
    const bool done = RunCatching([&] { result = body(); });
    LeaveToHost(frame);
    if (!done) RaiseKeptException();
    return result;
  }
}

}  // namespace quorlan::entry
