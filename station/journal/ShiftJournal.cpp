// SPDX-License-Identifier: Apache-2.0
#include "station/journal/ShiftJournal.h"

#include <fmt/format.h>

#include "station/journal/EventJournal.h"
#include "station/journal/FillRows.h"

namespace quorlan::station {

namespace {

std::vector<NozzleReading> ReadTotals(sql::Database& db, std::int64_t shift) {
  auto query = db.Prepare(
      "SELECT channel, dispenser, nozzle, volume, amount FROM shift_totals WHERE shift = ? "
      "ORDER BY channel, dispenser, nozzle");
  query.Bind(1, shift);
  std::vector<NozzleReading> readings;
  while (query.Step()) {
    NozzleReading reading;
    reading.nozzle = {static_cast<int>(query.Integer(0)), static_cast<int>(query.Integer(1)),
                      static_cast<int>(query.Integer(2))};
    if (!query.IsNull(3) && !query.IsNull(4))
      reading.open = Totals{query.Integer(3), query.Integer(4)};
    readings.push_back(reading);
  }
  return readings;
}

void WriteTotals(sql::Database& db, std::int64_t shift, const std::vector<NozzleReading>& readings,
                 bool closing) {
  for (const NozzleReading& reading : readings) {
    const auto& totals = closing ? reading.close : reading.open;
    db.Prepare(
          "INSERT INTO shift_totals(shift, channel, dispenser, nozzle, volume, amount) "
          "VALUES(?, ?, ?, ?, ?, ?) ON CONFLICT(shift, channel, dispenser, nozzle) DO UPDATE "
          "SET volume = coalesce(volume, excluded.volume), "
          "amount = coalesce(amount, excluded.amount)")
        .Bind(1, shift)
        .Bind(2, reading.nozzle.channel)
        .Bind(3, reading.nozzle.dispenser)
        .Bind(4, reading.nozzle.nozzle)
        .Bind(5, totals ? std::optional<std::int64_t>(totals->volume) : std::nullopt)
        .Bind(6, totals ? std::optional<std::int64_t>(totals->amount) : std::nullopt)
        .Run();
  }
}

}  // namespace

ShiftJournal::OpenShift ShiftJournal::Current(const std::string& openedAt) {
  return database_.Locked([&](sql::Database& db) {
    sql::Transaction transaction(db);
    auto query = db.Prepare("SELECT id, opened_at FROM shifts WHERE closed_at IS NULL");
    OpenShift shift;
    if (query.Step()) {
      shift.id = query.Integer(0);
      shift.openedAt = query.Text(1);
    } else {
      db.Prepare("INSERT INTO shifts(opened_at) VALUES(?)").Bind(1, openedAt).Run();
      shift.id = db.LastInsertId();
      shift.openedAt = openedAt;
      shift.first = true;
    }
    shift.opening = ReadTotals(db, shift.id);
    Database::Commit(transaction);
    return shift;
  });
}

void ShiftJournal::SetOpeningTotals(std::int64_t shift,
                                    const std::vector<NozzleReading>& readings) {
  database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    WriteTotals(db, shift, readings, false);
    Database::Commit(transaction);
  });
}

// The shift's fills, the station's unpaid ones, and each nozzle's opening
// and closing totals; in the closing's transaction.
ShiftInput ShiftJournal::Counted(sql::Database& db, const Closing& closing) {
  const FillStatusWords& words = StoredStatus();
  // Every fill ended by now is the closing shift's; later ones the next's.
  auto assign = db.Prepare(
      "UPDATE fills INDEXED BY fills_by_shift SET shift = ? "
      "WHERE shift IS NULL AND status IN (?, ?)");
  assign.Bind(1, closing.shift)
      .Bind(2, words.completed.front())
      .Bind(3, words.cancelled.front())
      .Run();

  ShiftInput input;
  input.id = closing.shift;
  auto opened = db.Prepare("SELECT opened_at FROM shifts WHERE id = ? AND closed_at IS NULL");
  opened.Bind(1, closing.shift);
  if (!opened.Step()) throw sql::Error(fmt::format("shift {} is not open", closing.shift));
  input.openedAt = opened.Text(0);
  auto fills = db.Prepare(
      "SELECT channel, dispenser, nozzle, grade, volume, amount, status "
      "FROM fills INDEXED BY fills_by_shift WHERE shift = ? AND status IN (?, ?)");
  fills.Bind(1, closing.shift).Bind(2, words.completed.front()).Bind(3, words.cancelled.front());
  while (fills.Step()) {
    ShiftFill fill;
    fill.nozzle = {static_cast<int>(fills.Integer(0)), static_cast<int>(fills.Integer(1)),
                   static_cast<int>(fills.Integer(2))};
    if (!fills.IsNull(3)) fill.grade = static_cast<int>(fills.Integer(3));
    fill.sold = {fills.Integer(4), fills.Integer(5)};
    fill.cancelled = fills.Text(6) == words.cancelled.front();
    input.fills.push_back(fill);
  }
  auto unpaid = db.Prepare(
      "SELECT count(*), coalesce(sum(amount), 0) FROM fills INDEXED BY fills_by_payment "
      "WHERE status = ? AND paid = 0");
  unpaid.Bind(1, words.completed.front());
  unpaid.Step();
  input.unpaidCount = static_cast<int>(unpaid.Integer(0));
  input.unpaidAmount = unpaid.Integer(1);

  const auto opening = ReadTotals(db, closing.shift);
  for (NozzleReading reading : closing.readings) {
    for (const NozzleReading& open : opening) {
      if (open.nozzle == reading.nozzle) reading.open = open.open;
    }
    input.nozzles.push_back(reading);
  }
  return input;
}

std::string ShiftJournal::Close(const Closing& closing, const MakeReport& makeReport,
                                StoredEvent& event) {
  return database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    const std::string report = makeReport(Counted(db, closing));
    event.data = report;

    db.Prepare("UPDATE shifts SET closed_at = ?, closed_by = ?, report = ? WHERE id = ?")
        .Bind(1, closing.closedAt)
        .Bind(2, closing.closedBy)
        .Bind(3, report)
        .Bind(4, closing.shift)
        .Run();
    db.Prepare("INSERT INTO shifts(opened_at) VALUES(?)").Bind(1, closing.closedAt).Run();
    WriteTotals(db, db.LastInsertId(), closing.readings, true);
    if (ChangeFeed* feed = database_.Feed()) feed->Shift(db, closing.shift, report);
    EventJournal::Insert(db, event);
    Database::Commit(transaction);
    return report;
  });
}

std::vector<std::string> ShiftJournal::Closed(std::int64_t after, int limit) {
  return database_.Locked([&](sql::Database& db) {
    auto query = db.Prepare(
        "SELECT report FROM shifts WHERE closed_at IS NOT NULL AND id > ? ORDER BY id LIMIT ?");
    query.Bind(1, after).Bind(2, std::int64_t{limit});
    std::vector<std::string> reports;
    while (query.Step()) reports.push_back(query.Text(0));
    return reports;
  });
}

std::optional<std::string> ShiftJournal::ClosedOne(std::int64_t id) {
  return database_.Locked([&](sql::Database& db) -> std::optional<std::string> {
    auto query = db.Prepare("SELECT report FROM shifts WHERE closed_at IS NOT NULL AND id = ?");
    query.Bind(1, id);
    if (!query.Step()) return std::nullopt;
    return query.Text(0);
  });
}

}  // namespace quorlan::station
