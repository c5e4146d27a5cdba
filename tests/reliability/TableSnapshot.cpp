#include "TableSnapshot.h"

#include <cstring>

namespace quorlan::reliability {

namespace {

template <class T>
bool SameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <class Rows>
void Compare(const Rows& before, const Rows& after, Table table,
             std::vector<ChangedEntry>& changed) {
  if (SameBits(before, after)) return;  // the usual case, in one comparison
  for (auto c = Rows::kLow; c <= Rows::kHigh; ++c) {
    for (std::int64_t d = 1; d <= kDispensers; ++d) {
      if (!SameBits(before[c][d], after[c][d])) changed.push_back({table, c, d});
    }
  }
}

}  // namespace

const char* TableName(Table table) {
  static constexpr const char* kNames[] = {
      "Prices",       "Volume",     "Amount",     "PresetVolume", "PresetAmount", "NozzleState",
      "CurrentGrade", "NozzleMode", "PriceDirty", "StartGuard",   "LinkState"};
  return kNames[static_cast<int>(table)];
}

std::string ChangedEntry::Name() const {
  std::string name = std::string(TableName(table)) + "[" + std::to_string(c) + "]";
  return table == Table::LinkState ? name : name + "[" + std::to_string(d) + "]";
}

TableSnapshot::TableSnapshot(DriverState& state)
    : prices(state.prices),
      volume(state.volume),
      amount(state.amount),
      presetVolume(state.presetVolume),
      presetAmount(state.presetAmount),
      nozzleState(state.nozzleState),
      currentGrade(state.currentGrade),
      nozzleMode(state.nozzleMode),
      priceDirty(state.priceDirty),
      startGuard(state.startGuard) {
  for (int c = 1; c <= kChannels; ++c) linkState[c] = state.link.LinkState(c);
}

std::vector<ChangedEntry> TableSnapshot::ChangedSince(const TableSnapshot& before) const {
  std::vector<ChangedEntry> changed;
  Compare(before.prices, prices, Table::Prices, changed);
  Compare(before.volume, volume, Table::Volume, changed);
  Compare(before.amount, amount, Table::Amount, changed);
  Compare(before.presetVolume, presetVolume, Table::PresetVolume, changed);
  Compare(before.presetAmount, presetAmount, Table::PresetAmount, changed);
  Compare(before.nozzleState, nozzleState, Table::NozzleState, changed);
  Compare(before.currentGrade, currentGrade, Table::CurrentGrade, changed);
  Compare(before.nozzleMode, nozzleMode, Table::NozzleMode, changed);
  Compare(before.priceDirty, priceDirty, Table::PriceDirty, changed);
  Compare(before.startGuard, startGuard, Table::StartGuard, changed);
  for (int c = 1; c <= kChannels; ++c) {
    if (before.linkState[c] != linkState[c]) changed.push_back({Table::LinkState, c, 0});
  }
  return changed;
}

}  // namespace quorlan::reliability
