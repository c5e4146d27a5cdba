#include "TableWatch.h"

#include <algorithm>
#include <cmath>

#include "Check.h"
#include "commands/NozzleStates.h"

namespace quorlan::fuzz {

TableWatch::TableWatch(DriverState& state) : state_(state), before_(state) {
  for (int c = 0; c <= kChannels; ++c) {
    for (int d = 1; d <= kDispensers; ++d) CheckEntry(c, d, "construction");
  }
}

void TableWatch::CheckOnlyWithin(const WriteScope& scope, const char* operation) const {
  for (const auto& entry : reliability::TableSnapshot(state_).ChangedSince(before_)) {
    if (entry.table == Table::LinkState) continue;
    const bool allowed = (scope.tables & Bit(entry.table)) && entry.c == scope.c &&
                         entry.d >= scope.firstD && entry.d <= scope.lastD;
    FUZZ_CHECK(allowed, "%s changed %s", operation, entry.Name().c_str());
  }
}

void TableWatch::CheckValues(const WriteScope& scope, const char* operation) const {
  if (scope.c < 0 || scope.c > kChannels) return;
  const auto first = std::max<std::int64_t>(scope.firstD, 1);
  const auto last = std::min<std::int64_t>(scope.lastD, kDispensers);
  for (auto d = first; d <= last; ++d) CheckEntry(scope.c, d, operation);
}

void TableWatch::CheckEntry(std::int64_t c, std::int64_t d, const char* operation) const {
  const DriverState& s = state_;
  FUZZ_CHECK(s.nozzleMode[c][d] != 1, "after %s NozzleMode[%lld][%lld] is 1", operation,
             (long long)c, (long long)d);
  FUZZ_CHECK(s.startGuard[c][d] <= kStartGuardPolls, "after %s StartGuard is %d", operation,
             s.startGuard[c][d]);
  FUZZ_CHECK(s.priceDirty[c][d] <= 1, "after %s PriceDirty is %d", operation, s.priceDirty[c][d]);
  if (c == 0) return;  // the other tables have no row 0
  // Six BCD digits with nibbles up to 15 stay below 16666.66.
  const double volume = s.volume[c][d];
  FUZZ_CHECK(std::isfinite(volume) && volume >= 0 && volume < 16700, "after %s Volume %g",
             operation, volume);
  // Computed amounts are finite; only a snap to the host's own money limit
  // (at a negative price) can hand back an infinity.
  FUZZ_CHECK(!std::isnan(s.amount[c][d]), "after %s Amount is NaN", operation);
}

}  // namespace quorlan::fuzz
