#pragma once
// Watches the driver's tables across one operation: which entries changed,
// and whether every table still holds only values it may hold.

#include <cstdint>

#include "commands/DriverState.h"
#include "reliability/TableSnapshot.h"

namespace quorlan::fuzz {

using reliability::Table;

constexpr std::uint32_t Bit(Table table) {
  return 1u << static_cast<int>(table);
}

// Where an operation may write: the tables, at channel c and dispensers
// firstD..lastD (empty range: nowhere). The link state has its own check.
struct WriteScope {
  std::uint32_t tables = 0;
  std::int64_t c = -1;
  std::int64_t firstD = 1;
  std::int64_t lastD = 0;
};

class TableWatch {
 public:
  // Checks every entry once; later checks look only where writes may be.
  explicit TableWatch(DriverState& state);

  // Records the tables as they are now.
  void Take() { before_ = reliability::TableSnapshot(state_); }
  // Aborts when an entry outside `scope` differs from the last Take.
  void CheckOnlyWithin(const WriteScope& scope, const char* operation) const;
  // Aborts when an entry of `scope` holds a value the driver never stores
  // there. After CheckOnlyWithin nothing else can have changed.
  void CheckValues(const WriteScope& scope, const char* operation) const;

  std::uint8_t LinkStateBefore(int c) const { return before_.linkState[c]; }

 private:
  void CheckEntry(std::int64_t c, std::int64_t d, const char* operation) const;

  DriverState& state_;
  reliability::TableSnapshot before_;
};

}  // namespace quorlan::fuzz
