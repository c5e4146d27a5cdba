// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the journal keeps of the money: each fill's payment and lock, stored
// with its event, the unpaid fills tills and alarms ask for, and how many
// of each dispenser are unpaid, counted in memory for every view.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/journal/Database.h"
#include "station/model/Records.h"
#include "station/model/Settlement.h"

namespace quorlan::station {

class SettlementJournal {
 public:
  explicit SettlementJournal(Database& database);

  // A fill in any stage, for settlement to judge.
  std::optional<FillRecord> Settleable(std::int64_t id);
  static SaleStage Stage(const FillRecord& fill);
  // Writes the fill's settlement with its event, in one transaction.
  void Write(const FillRecord& fill, const StoredEvent& event);
  // The completed unpaid fills of a dispenser, oldest first.
  std::vector<std::int64_t> UnpaidFills(int channel, int dispenser);
  // How many there are, from memory: cheap enough for every view.
  int Unpaid(int channel, int dispenser);
  // Fills whose lock ran out at or before `now` and is still written.
  std::vector<FillRecord> LapsedLocks(const std::string& now);
  // Completed unpaid fills that ended before `finishedBefore`, ids above `after`.
  std::vector<FillRecord> UnpaidBefore(const std::string& finishedBefore, std::int64_t after);

  // Counts a dispenser's unpaid fills again, after a change of its fills;
  // under the write lock.
  void Recount(sql::Database& db, int channel, int dispenser);

 private:
  void CountAll(sql::Database& db);
  std::vector<FillRecord> Unpaid(const std::string& where, std::int64_t a, const std::string& b);

  Database& database_;
  std::mutex unpaidMutex_;  // after the write lock when both are held
  std::map<std::pair<int, int>, int> unpaid_;
};

}  // namespace quorlan::station
