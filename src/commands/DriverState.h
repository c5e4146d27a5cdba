#pragma once
// The driver object's per-dispenser tables and the services every command
// uses. Tables are sized exactly as the driver object declares them; every
// index is range-checked.

#include <cstdint>
#include <string_view>

#include "base/Range.h"
#include "link/Link.h"

namespace quorlan {

inline constexpr int kChannels = 32;
inline constexpr int kDispensers = 32;
inline constexpr int kGrades = 8;

// Indexed by channel 1..32, then dispenser 1..32.
template <class T>
using LineTable = RangedArray<RangedArray<T, 1, kDispensers>, 1, kChannels>;
// Byte tables also cover channel 0, which some operations accept.
template <class T>
using ByteTable = RangedArray<RangedArray<T, 1, kDispensers>, 0, kChannels>;

struct DriverState {
  DriverState(TPortDispatcher& port, Logger& logger, bool amountFromVolume);

  void Trace(std::string_view text) { link.Log().Log(kTraceLevel, text); }

  Link link;
  const bool amountFromVolume;

  LineTable<RangedArray<std::int32_t, 1, kGrades>> prices;
  LineTable<double> volume;
  LineTable<double> presetVolume;
  LineTable<double> amount;
  LineTable<double> presetAmount;
  ByteTable<std::uint8_t> nozzleState;
  ByteTable<std::uint8_t> currentGrade;
  ByteTable<std::uint8_t> nozzleMode;
  ByteTable<std::uint8_t> priceDirty;
  ByteTable<std::uint8_t> startGuard;
};

}  // namespace quorlan
