#pragma once
// Request frames: every info byte followed by its one's complement.

#include <array>
#include <cstdint>
#include <span>

namespace quorlan {

inline constexpr int kMaxRequestData = 125;
// Second address of a dispenser: sub-address d + 208.
inline constexpr int kSecondAddressOffset = 208;

struct Frame {
  std::array<std::uint8_t, 2 * (kMaxRequestData + 2)> bytes{};
  int length = 0;
  std::span<const std::uint8_t> View() const { return {bytes.data(), std::size_t(length)}; }
};

// Address byte of a sub-address: (sub-address − 0x11) mod 256.
constexpr std::uint8_t AddressByte(int subAddress) {
  return static_cast<std::uint8_t>((subAddress - 0x11) & 0xFF);
}

// More than kMaxRequestData data bytes fail with ERangeError.
Frame BuildFrame(int subAddress, std::uint8_t command, std::span<const std::uint8_t> data);

}  // namespace quorlan
