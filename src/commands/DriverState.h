#pragma once
// The driver object's per-dispenser tables and the services every command
// uses. Tables are sized exactly as the driver object declares them; every
// index is range-checked.

#include <cstdint>
#include <string_view>

#include "base/Range.h"
#include "link/Link.h"
#include "quorlan/Driver.h"
#include "quorlan/PortDispatcher.h"

namespace quorlan {

// The tables' sizes are the public limits.
inline constexpr int kChannels = kLastChannel;
inline constexpr int kDispensers = kLastDispenser;
inline constexpr int kGrades = kLastGrade;

// Indexed by channel 1..32, then dispenser 1..32.
template <class T>
using LineTable = RangedArray<RangedArray<T, 1, kDispensers>, 1, kChannels>;
// Byte tables also cover channel 0, which some operations accept.
template <class T>
using ByteTable = RangedArray<RangedArray<T, 1, kDispensers>, 0, kChannels>;

// Where prices come from before anyone gives one. The DLL starts every
// dispenser with placeholder prices (grade × 11.11) that hosts may rely on;
// an embedder's driver knows only the prices it was given and never sends
// another.
enum class PriceSource : std::uint8_t { Placeholders, GivenOnly };

// How a figure with a digit above 9 is read. The DLL documents taking such a
// digit at face value (0xA0 reads as 100) and keeps doing so; an embedder's
// driver refuses the reply, so that such a figure is never taken as a sale.
enum class ReplyDigits : std::uint8_t { FaceValue, Checked };

struct DriverState {
  DriverState(TPortDispatcher& port, Logger& logger, bool amountFromVolume,
              PriceSource priceSource = PriceSource::Placeholders,
              ReplyDigits replyDigits = ReplyDigits::FaceValue);

  // True when the price may be used on the line: always with placeholders,
  // else only once it was given.
  bool HasPrice(std::int64_t c, std::int64_t d, std::int64_t g) const {
    return priceSource == PriceSource::Placeholders || priceGiven[c][d][g] != 0;
  }

  // Every exchange's line; a command's own line is worth the info level.
  void Trace(std::string_view text) { link.Log().Log(kTraceLevel, text); }
  void Info(std::string_view text) { link.Log().Log(kInfoLevel, text); }

  Link link;
  const bool amountFromVolume;
  const PriceSource priceSource;
  const ReplyDigits replyDigits;

  LineTable<RangedArray<std::int32_t, 1, kGrades>> prices;
  LineTable<RangedArray<std::uint8_t, 1, kGrades>> priceGiven;
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
