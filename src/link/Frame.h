#pragma once
// Request frames: every info byte followed by its one's complement.

#include <array>
#include <cstdint>
#include <span>

#include "link/Protocol.h"

namespace quorlan {

struct Frame {
  std::array<std::uint8_t, 2 * (kMaxRequestData + 2)> bytes{};
  int length = 0;
  std::span<const std::uint8_t> View() const { return {bytes.data(), std::size_t(length)}; }
};

// More than kMaxRequestData data bytes fail with ERangeError.
Frame BuildFrame(int subAddress, std::uint8_t command, std::span<const std::uint8_t> data);

}  // namespace quorlan
