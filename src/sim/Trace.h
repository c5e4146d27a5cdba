#pragma once
// A transport's view of the line, for `--trace` and tests.

#include <cstdint>
#include <functional>
#include <span>

namespace quorlan::sim {

enum class TraceDirection : std::uint8_t {
  Request,  // host to dispenser
  Reply,    // dispenser to host
  NoReply,  // the exchange ended without a byte (bytes empty)
};

using TraceHook =
    std::function<void(TraceDirection direction, int channel, std::span<const std::uint8_t> bytes)>;

}  // namespace quorlan::sim
