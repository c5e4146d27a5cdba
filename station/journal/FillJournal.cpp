// SPDX-License-Identifier: Apache-2.0
#include "station/journal/FillJournal.h"

#include <fmt/format.h>

#include <algorithm>
#include <variant>

#include "station/journal/EventJournal.h"
#include "station/journal/FillRows.h"
#include "station/metrics/Metrics.h"

namespace quorlan::station {

namespace {

void Bind(sql::Statement& statement, int index, const SqlValue& value) {
  std::visit([&](const auto& v) { statement.Bind(index, v); }, value);
}

}  // namespace

FillJournal::FillJournal(Database& database, SettlementJournal& settlement)
    : database_(database), settlement_(settlement) {
  // Ids keep growing over a database that was replaced under the service.
  database_.AtOpen([this](sql::Database& db) {
    auto highest = db.Prepare("SELECT coalesce(max(id), 0) FROM fills");
    highest.Step();
    highest_ = std::max(highest_, highest.Integer(0));
    db.Prepare(
          "INSERT INTO sqlite_sequence(name, seq) SELECT 'fills', 0 "
          "WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'fills')")
        .Run();
    db.Prepare("UPDATE sqlite_sequence SET seq = max(seq, ?) WHERE name = 'fills'")
        .Bind(1, highest_)
        .Run();
  });
}

std::int64_t FillJournal::Insert(const FillRecord& fill,
                                 const std::map<int, NozzleCounters>& totalsBefore) {
  return database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    InsertWhole(db, fill, false);
    const std::int64_t id = db.LastInsertId();
    for (const auto& [nozzle, totals] : totalsBefore) {
      db.Prepare("INSERT INTO fill_totals(fill, nozzle, volume, amount) VALUES(?, ?, ?, ?)")
          .Bind(1, id)
          .Bind(2, std::int64_t{nozzle})
          .Bind(3, totals.volume)
          .Bind(4, totals.amount)
          .Run();
    }
    FeedFill(db, database_.Feed(), id);
    transaction.Commit();
    highest_ = std::max(highest_, id);
    return id;
  });
}

void FillJournal::InsertWhole(sql::Database& db, const FillRecord& fill, bool withId) {
  auto insert = db.Prepare(
      "INSERT INTO fills(channel, dispenser, nozzle, grade, price, limit_kind, limit_value, "
      "authorized_by, authorized_at, finished_at, volume, amount, shown_volume, shown_amount, "
      "recovered, status, requested_grade, filling, mismatch, settled_from, request, id) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.Bind(1, fill.channel)
      .Bind(2, fill.dispenser)
      .Bind(3, fill.nozzle)
      .Bind(4, OptionalNumber(fill.grade))
      .Bind(5, fill.price)
      .Bind(6, std::string(KindName(fill.limit.kind)))
      .Bind(7, fill.limit.value)
      .Bind(8, fill.authorizedBy)
      .Bind(9, fill.authorizedAt)
      .Bind(10, fill.finishedAt)
      .Bind(11, fill.volume)
      .Bind(12, fill.amount)
      .Bind(13, fill.shownVolume)
      .Bind(14, fill.shownAmount)
      .Bind(15, fill.recovered ? 1 : 0)
      .Bind(16, StatusWord(fill.status))
      .Bind(17, OptionalNumber(fill.requestedGrade))
      .Bind(18, fill.filling ? 1 : 0)
      .Bind(19, fill.mismatch ? 1 : 0)
      .Bind(20, SettledWord(fill.settledFrom))
      .Bind(21, fill.request)
      .Bind(22, withId ? std::optional<std::int64_t>(fill.id) : std::nullopt)
      .Run();
}

void FillJournal::Acknowledge(std::int64_t id, const std::string& authorizedAt) {
  database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    db.Prepare(
          "UPDATE fills SET status = 'open', authorized_at = ? WHERE id = ? AND status = "
          "'pending'")
        .Bind(1, authorizedAt)
        .Bind(2, id)
        .Run();
    if (db.Changes() == 1) FeedFill(db, database_.Feed(), id);
    transaction.Commit();
  });
}

void FillJournal::UpdateOpen(const FillRecord& fill) {
  database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    db.Prepare(
          "UPDATE fills SET nozzle = ?, grade = ?, price = ?, filling = ? "
          "WHERE id = ? AND status IN ('pending', 'open')")
        .Bind(1, fill.nozzle)
        .Bind(2, OptionalNumber(fill.grade))
        .Bind(3, fill.price)
        .Bind(4, fill.filling ? 1 : 0)
        .Bind(5, fill.id)
        .Run();
    if (db.Changes() == 1) FeedFill(db, database_.Feed(), fill.id);
    transaction.Commit();
  });
}

std::map<int, NozzleCounters> FillJournal::TotalsBefore(std::int64_t id) {
  return database_.Reading([&](sql::Database& reader) {
    auto query = reader.Prepare("SELECT nozzle, volume, amount FROM fill_totals WHERE fill = ?");
    query.Bind(1, id);
    std::map<int, NozzleCounters> totals;
    while (query.Step()) {
      totals[static_cast<int>(query.Integer(0))] = {query.Integer(1), query.Integer(2)};
    }
    return totals;
  });
}

void FillJournal::Delete(std::int64_t id) {
  database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    db.Prepare("DELETE FROM fills WHERE id = ? AND status = 'pending'").Bind(1, id).Run();
    if (db.Changes() == 1) db.Prepare("DELETE FROM fill_totals WHERE fill = ?").Bind(1, id).Run();
    transaction.Commit();
  });
}

bool FillJournal::End(const FillRecord& fill, const StoredEvent& event) {
  return database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    db.Prepare(
          "UPDATE fills SET status = ?, nozzle = ?, grade = ?, price = ?, volume = ?, "
          "amount = ?, finished_at = ?, recovered = ?, authorized_at = ?, filling = ?, "
          "mismatch = ?, settled_from = ? WHERE id = ? AND status IN ('pending', 'open')")
        .Bind(1, StatusWord(fill.status))
        .Bind(2, fill.nozzle)
        .Bind(3, OptionalNumber(fill.grade))
        .Bind(4, fill.price)
        .Bind(5, fill.volume)
        .Bind(6, fill.amount)
        .Bind(7, fill.finishedAt)
        .Bind(8, fill.recovered ? 1 : 0)
        .Bind(9, fill.authorizedAt)
        .Bind(10, fill.filling ? 1 : 0)
        .Bind(11, fill.mismatch ? 1 : 0)
        .Bind(12, SettledWord(fill.settledFrom))
        .Bind(13, fill.id)
        .Run();
    if (db.Changes() != 1) {
      auto known = db.Prepare("SELECT 1 FROM fills WHERE id = ?");
      known.Bind(1, fill.id);
      if (known.Step()) return false;
      // A database that lost the row (replaced while the fill ran) gets it whole.
      InsertWhole(db, fill, true);
    }
    // An ended fill's nozzle is known or never will be.
    db.Prepare("DELETE FROM fill_totals WHERE fill = ?").Bind(1, fill.id).Run();
    FeedFill(db, database_.Feed(), fill.id);
    EventJournal::Insert(db, event);
    Database::Commit(transaction);
    ServiceMetrics().fills[static_cast<std::size_t>(fill.status)].Add();
    settlement_.Recount(db, fill.channel, fill.dispenser);
    return true;
  });
}

std::vector<FillRecord> FillJournal::Select(const std::string& where, std::int64_t a,
                                            std::int64_t b) {
  return database_.Reading([&](sql::Database& reader) {
    auto query =
        reader.Prepare("SELECT " + std::string(kFillColumns) + " FROM fills WHERE " + where);
    query.Bind(1, a).Bind(2, b);
    std::vector<FillRecord> fills;
    while (query.Step()) fills.push_back(ReadFill(query));
    return fills;
  });
}

std::vector<FillRecord> FillJournal::OpenOn(int channel) {
  return Select("status IN ('pending', 'open') AND channel = ? AND ? = 0 ORDER BY id", channel, 0);
}

std::vector<FillRecord> FillJournal::Completed(std::int64_t after, int limit) {
  return Select("status = 'done' AND id > ? ORDER BY id LIMIT ?", after, limit);
}

std::optional<FillRecord> FillJournal::Shown(std::int64_t id) {
  auto fills = Select("id = ? AND status <> 'pending' AND ? = 0", id, 0);
  if (fills.empty()) return std::nullopt;
  return fills.front();
}

std::optional<FillRecord> FillJournal::OfRequest(const std::string& request) {
  return database_.Reading([&](sql::Database& reader) -> std::optional<FillRecord> {
    auto query = reader.Prepare("SELECT " + std::string(kFillColumns) +
                                " FROM fills WHERE request = ? ORDER BY id LIMIT 1");
    query.Bind(1, request);
    if (!query.Step()) return std::nullopt;
    return ReadFill(query);
  });
}

std::vector<FillRecord> FillJournal::Find(const FillQuery& query) {
  const SqlCondition condition = FillCondition(query, StoredStatus());
  return database_.Reading([&](sql::Database& reader) {
    auto statement = reader.Prepare(fmt::format("SELECT {} FROM fills WHERE {} ORDER BY id LIMIT ?",
                                                kFillColumns, condition.where));
    int index = 1;
    for (const SqlValue& value : condition.values) Bind(statement, index++, value);
    statement.Bind(index, std::int64_t{query.limit});
    std::vector<FillRecord> fills;
    while (statement.Step()) fills.push_back(ReadFill(statement));
    return fills;
  });
}

}  // namespace quorlan::station
