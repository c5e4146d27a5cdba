#pragma once
// Every index into a driver table and every narrowing of a host value goes
// through these helpers, so nothing is ever touched out of bounds.

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/Errors.h"

namespace quorlan {

template <std::int64_t Lo, std::int64_t Hi>
constexpr std::int64_t CheckRange(std::int64_t value) {
  if (value < Lo || value > Hi) throw ERangeError();
  return value;
}

constexpr std::uint8_t AsByte(std::int64_t value) {
  return static_cast<std::uint8_t>(CheckRange<0, 255>(value));
}

// A fixed array indexed Lo..Hi, as the driver's tables are declared.
template <class T, std::int64_t Lo, std::int64_t Hi>
class RangedArray {
 public:
  static constexpr std::int64_t kLow = Lo;
  static constexpr std::int64_t kHigh = Hi;

  constexpr T& operator[](std::int64_t index) { return items_[Slot(index)]; }
  constexpr const T& operator[](std::int64_t index) const { return items_[Slot(index)]; }

  template <class U>
  constexpr void Fill(const U& value) {
    for (auto& item : items_) {
      if constexpr (requires { item.Fill(value); }) {
        item.Fill(value);
      } else {
        item = static_cast<T>(value);
      }
    }
  }
  constexpr auto begin() { return items_.begin(); }
  constexpr auto end() { return items_.end(); }

 private:
  static constexpr std::size_t Slot(std::int64_t index) {
    return static_cast<std::size_t>(CheckRange<Lo, Hi>(index) - Lo);
  }
  std::array<T, static_cast<std::size_t>(Hi - Lo + 1)> items_{};
};

}  // namespace quorlan
