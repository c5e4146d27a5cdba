#pragma once
// Reads a fuzzer's input as a stream of host values and line events. Once the
// input is spent every read yields zero, so a harness never runs past it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

namespace quorlan::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

  bool Empty() const { return rest_.empty(); }
  std::size_t Remaining() const { return rest_.size(); }

  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const std::uint8_t b = rest_.front();
    rest_ = rest_.subspan(1);
    return b;
  }
  bool Bool() { return (Byte() & 1) != 0; }

  template <class T>
  T Raw() {
    T value{};
    const std::size_t n = std::min(sizeof(T), rest_.size());
    std::memcpy(&value, rest_.data(), n);
    rest_ = rest_.subspan(n);
    return value;
  }

  std::vector<std::uint8_t> Bytes(std::size_t count) {
    const std::size_t n = std::min(count, rest_.size());
    std::vector<std::uint8_t> out(rest_.begin(), rest_.begin() + static_cast<std::ptrdiff_t>(n));
    rest_ = rest_.subspan(n);
    return out;
  }

  // A host's 32-bit number: mostly near the valid ranges, where the checks
  // are, sometimes any value at all.
  std::uint32_t HostNumber() {
    const std::uint8_t kind = Byte();
    if (kind < 200) return kind % 36;           // 0..35: both edges of 1..32
    if (kind < 230) return 250u + Byte() % 12;  // around the byte limit
    return Raw<std::uint32_t>();
  }

  // A host's double: the awkward values, money-like decimals, or any bits.
  double HostDouble() {
    static constexpr double kAwkwardValues[] = {
        0.0,
        -0.0,
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(),
        0.125,
        0.375,
        21474836.47,
        21474836.48,
        -21474836.48,
        -21474836.49,
        9999.995,
        -1.0,
    };
    const std::uint8_t kind = Byte();
    if (kind < 64) return kAwkwardValues[kind % std::size(kAwkwardValues)];
    if (kind < 192) return static_cast<double>(Raw<std::int32_t>() % 100000000) / 100;
    return Raw<double>();
  }

 private:
  std::span<const std::uint8_t> rest_;
};

}  // namespace quorlan::fuzz
