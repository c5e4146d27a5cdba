#pragma once
// A copy of the driver's per-dispenser tables, to tell after an operation
// exactly which entries it changed. Used by the fault matrix and the fuzz
// harness of the whole driver.

#include <cstdint>
#include <string>
#include <vector>

#include "commands/DriverState.h"

namespace quorlan::reliability {

enum class Table : std::uint8_t {
  Prices,
  Volume,
  Amount,
  PresetVolume,
  PresetAmount,
  NozzleState,
  CurrentGrade,
  NozzleMode,
  PriceDirty,
  StartGuard,
  LinkState,
};
const char* TableName(Table table);

// One changed entry; the dispenser is 0 for LinkState (a channel table).
struct ChangedEntry {
  Table table;
  std::int64_t c;
  std::int64_t d;
  friend bool operator==(const ChangedEntry&, const ChangedEntry&) = default;
  std::string Name() const;  // "Prices[1][2]"
};

struct TableSnapshot {
  explicit TableSnapshot(DriverState& state);

  // Entries that differ from `before`, in table order; doubles compare by
  // their bits, so a NaN the host stored equals itself.
  std::vector<ChangedEntry> ChangedSince(const TableSnapshot& before) const;

  LineTable<RangedArray<std::int32_t, 1, kGrades>> prices;
  LineTable<double> volume, amount, presetVolume, presetAmount;
  ByteTable<std::uint8_t> nozzleState, currentGrade, nozzleMode, priceDirty, startGuard;
  RangedArray<std::uint8_t, 1, kChannels> linkState;
};

}  // namespace quorlan::reliability
