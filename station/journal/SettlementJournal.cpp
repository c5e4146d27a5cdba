// SPDX-License-Identifier: Apache-2.0
#include "station/journal/SettlementJournal.h"

#include <fmt/format.h>

#include "station/base/Instant.h"
#include "station/journal/EventJournal.h"
#include "station/journal/FillRows.h"

namespace quorlan::station {

namespace {

std::optional<std::string> OptionalStamp(const std::optional<Instant>& instant) {
  return instant ? std::optional<std::string>(FormatUtc(*instant)) : std::nullopt;
}

const std::string& Completed() {
  return StoredStatus().completed.front();
}

}  // namespace

SettlementJournal::SettlementJournal(Database& database) : database_(database) {
  database_.AtOpen([this](sql::Database& db) { CountAll(db); });
}

std::optional<FillRecord> SettlementJournal::Settleable(std::int64_t id) {
  return database_.Reading([&](sql::Database& reader) -> std::optional<FillRecord> {
    auto query = reader.Prepare("SELECT " + std::string(kFillColumns) + " FROM fills WHERE id = ?");
    query.Bind(1, id);
    if (!query.Step()) return std::nullopt;
    return ReadFill(query);
  });
}

SaleStage SettlementJournal::Stage(const FillRecord& fill) {
  const std::string word = StatusWord(fill.status);
  if (word == Completed()) return SaleStage::Completed;
  if (word == StoredStatus().cancelled.front()) return SaleStage::Cancelled;
  return SaleStage::Open;
}

void SettlementJournal::Write(const FillRecord& fill, const StoredEvent& event) {
  database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    const Settlement& settlement = fill.settlement;
    db.Prepare(
          "UPDATE fills SET paid = ?, paid_by = ?, paid_at = ?, reference = ?, locked_by = ?, "
          "locked_until = ? WHERE id = ?")
        .Bind(1, std::int64_t{settlement.paid ? 1 : 0})
        .Bind(2, settlement.paidBy)
        .Bind(3, OptionalStamp(settlement.paidAt))
        .Bind(4, settlement.reference)
        .Bind(5, settlement.lockedBy)
        .Bind(6, OptionalStamp(settlement.lockedUntil))
        .Bind(7, fill.id)
        .Run();
    FeedFill(db, database_.Feed(), fill.id);
    EventJournal::Insert(db, event);
    Database::Commit(transaction);
    Recount(db, fill.channel, fill.dispenser);
  });
}

std::vector<std::int64_t> SettlementJournal::UnpaidFills(int channel, int dispenser) {
  return database_.Locked([&](sql::Database& db) {
    auto query = db.Prepare(
        "SELECT id FROM fills INDEXED BY fills_by_payment "
        "WHERE status = ? AND paid = 0 AND dispenser = ? AND channel = ? "
        "ORDER BY id");
    query.Bind(1, Completed()).Bind(2, dispenser).Bind(3, channel);
    std::vector<std::int64_t> ids;
    while (query.Step()) ids.push_back(query.Integer(0));
    return ids;
  });
}

int SettlementJournal::Unpaid(int channel, int dispenser) {
  std::lock_guard lock(unpaidMutex_);
  const auto at = unpaid_.find({channel, dispenser});
  return at == unpaid_.end() ? 0 : at->second;
}

std::vector<FillRecord> SettlementJournal::LapsedLocks(const std::string& now) {
  // Only a completed unpaid fill holds a lock: the unpaid stack is short.
  return Unpaid("? = 0 AND locked_until IS NOT NULL AND locked_until <= ?", 0, now);
}

std::vector<FillRecord> SettlementJournal::UnpaidBefore(const std::string& finishedBefore,
                                                        std::int64_t after) {
  return Unpaid("id > ? AND finished_at < ?", after, finishedBefore);
}

std::vector<FillRecord> SettlementJournal::Unpaid(const std::string& where, std::int64_t a,
                                                  const std::string& b) {
  return database_.Locked([&](sql::Database& db) {
    auto query =
        db.Prepare(fmt::format("SELECT {} FROM fills INDEXED BY fills_by_payment "
                               "WHERE status = ? AND paid = 0 AND {} ORDER BY id",
                               kFillColumns, where));
    query.Bind(1, Completed()).Bind(2, a).Bind(3, b);
    std::vector<FillRecord> fills;
    while (query.Step()) fills.push_back(ReadFill(query));
    return fills;
  });
}

void SettlementJournal::CountAll(sql::Database& db) {
  auto query = db.Prepare(
      "SELECT channel, dispenser, count(*) FROM fills INDEXED BY fills_by_payment "
      "WHERE status = ? AND paid = 0 "
      "GROUP BY channel, dispenser");
  query.Bind(1, Completed());
  std::map<std::pair<int, int>, int> counts;
  while (query.Step()) {
    counts[{static_cast<int>(query.Integer(0)), static_cast<int>(query.Integer(1))}] =
        static_cast<int>(query.Integer(2));
  }
  std::lock_guard countsLock(unpaidMutex_);
  unpaid_ = std::move(counts);
}

void SettlementJournal::Recount(sql::Database& db, int channel, int dispenser) {
  auto query = db.Prepare(
      "SELECT count(*) FROM fills INDEXED BY fills_by_payment "
      "WHERE status = ? AND paid = 0 AND channel = ? AND "
      "dispenser = ?");
  query.Bind(1, Completed()).Bind(2, channel).Bind(3, dispenser);
  query.Step();
  std::lock_guard countsLock(unpaidMutex_);
  unpaid_[{channel, dispenser}] = static_cast<int>(query.Integer(0));
}

}  // namespace quorlan::station
