#include "station/Store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <utility>

namespace quorlan::station {

namespace {

// Each release appends its step; user_version counts the steps applied.
constexpr std::array<std::string_view, 2> kMigrations{
    R"(CREATE TABLE prices(
         channel INTEGER NOT NULL, dispenser INTEGER NOT NULL, grade INTEGER NOT NULL,
         price INTEGER NOT NULL, PRIMARY KEY(channel, dispenser, grade));
       CREATE TABLE fills(
         id INTEGER PRIMARY KEY AUTOINCREMENT,
         channel INTEGER NOT NULL, dispenser INTEGER NOT NULL, nozzle INTEGER NOT NULL,
         grade INTEGER, price INTEGER,
         limit_kind TEXT NOT NULL, limit_value INTEGER NOT NULL,
         authorized_by TEXT, authorized_at TEXT, finished_at TEXT,
         volume INTEGER NOT NULL, amount INTEGER NOT NULL,
         shown_volume INTEGER NOT NULL, shown_amount INTEGER NOT NULL,
         recovered INTEGER NOT NULL, status TEXT NOT NULL);
       CREATE INDEX fills_by_status ON fills(status, channel);
       CREATE TABLE events(id INTEGER PRIMARY KEY, name TEXT NOT NULL, data TEXT NOT NULL);
       CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);)",

    // ---- The sale's whole life: what a plain authorization asked, whether
    // fuel flowed, an amount that is not price × volume, and where the
    // figures of a fill whose display was lost come from.
    R"(ALTER TABLE fills ADD COLUMN requested_grade INTEGER;
       ALTER TABLE fills ADD COLUMN filling INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE fills ADD COLUMN mismatch INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE fills ADD COLUMN settled_from TEXT NOT NULL DEFAULT 'readout';)",
};

constexpr std::string_view kEventIdCounter = "event_id";

constexpr std::array<std::string_view, 4> kStatusNames{"pending", "open", "done", "cancelled"};

std::string StatusName(FillStatus status) {
  return std::string(kStatusNames[static_cast<std::size_t>(status)]);
}

FillStatus ParseStatus(const std::string& name) {
  for (std::size_t i = 0; i < kStatusNames.size(); ++i) {
    if (kStatusNames[i] == name) return static_cast<FillStatus>(i);
  }
  throw sql::Error("unknown fill status " + name);
}

constexpr std::string_view kFillColumns =
    "id, channel, dispenser, nozzle, grade, price, limit_kind, limit_value, authorized_by, "
    "authorized_at, finished_at, volume, amount, shown_volume, shown_amount, recovered, status, "
    "requested_grade, filling, mismatch, settled_from";

constexpr std::array<std::string_view, 3> kSettledNames{"readout", "totals", "last seen"};

std::string SettledName(SettledFrom from) {
  return std::string(kSettledNames[static_cast<std::size_t>(from)]);
}

SettledFrom ParseSettled(const std::string& name) {
  for (std::size_t i = 0; i < kSettledNames.size(); ++i) {
    if (kSettledNames[i] == name) return static_cast<SettledFrom>(i);
  }
  throw sql::Error("unknown fill source " + name);
}

std::optional<std::int64_t> OptionalNumber(const std::optional<int>& value) {
  return value ? std::optional<std::int64_t>(*value) : std::nullopt;
}

FillRecord ReadFill(const sql::Statement& row) {
  FillRecord fill;
  fill.id = row.Integer(0);
  fill.channel = static_cast<int>(row.Integer(1));
  fill.dispenser = static_cast<int>(row.Integer(2));
  fill.nozzle = static_cast<int>(row.Integer(3));
  if (!row.IsNull(4)) fill.grade = static_cast<int>(row.Integer(4));
  fill.price = row.OptionalInteger(5);
  fill.limit = {ParseKind(row.Text(6)), row.Integer(7)};
  fill.authorizedBy = row.OptionalText(8);
  fill.authorizedAt = row.OptionalText(9);
  fill.finishedAt = row.OptionalText(10);
  fill.volume = row.Integer(11);
  fill.amount = row.Integer(12);
  fill.shownVolume = row.Integer(13);
  fill.shownAmount = row.Integer(14);
  fill.recovered = row.Integer(15) != 0;
  fill.status = ParseStatus(row.Text(16));
  if (!row.IsNull(17)) fill.requestedGrade = static_cast<int>(row.Integer(17));
  fill.filling = row.Integer(18) != 0;
  fill.mismatch = row.Integer(19) != 0;
  fill.settledFrom = ParseSettled(row.Text(20));
  return fill;
}

}  // namespace

Store::Store(const std::string& path) : path_(path) {
  Open();
}

void Store::Open() {
  db_.reset();
  db_ = std::make_unique<sql::Database>(path_);
  db_->Execute("PRAGMA journal_mode=WAL");
  db_->Execute("PRAGMA synchronous=FULL");
  db_->Execute("PRAGMA foreign_keys=ON");
  Migrate();
  struct stat file {};
  if (::stat(path_.c_str(), &file) == 0) {
    device_ = file.st_dev;
    inode_ = file.st_ino;
  }
  // Ids keep growing over a database that was replaced under the service.
  auto highest = db_->Prepare("SELECT coalesce(max(id), 0) FROM fills");
  highest.Step();
  highestFill_ = std::max(highestFill_, highest.Integer(0));
  db_->Prepare(
         "INSERT INTO sqlite_sequence(name, seq) SELECT 'fills', 0 "
         "WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'fills')")
      .Run();
  db_->Prepare("UPDATE sqlite_sequence SET seq = max(seq, ?) WHERE name = 'fills'")
      .Bind(1, highestFill_)
      .Run();
  if (reservedEvents_ > 0) WriteReservation(reservedEvents_);
}

std::string Store::Check() {
  std::lock_guard lock(mutex_);
  std::string problem;
  struct stat file {};
  const bool present = ::stat(path_.c_str(), &file) == 0;
  const bool same = present && file.st_dev == device_ && file.st_ino == inode_;
  const std::string folder = std::filesystem::path(path_).parent_path().string();
  const bool folderWritable = ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
  if (!same && folderWritable) {
    // The file went (or another took its place) but its folder is there:
    // the journal goes on in a database opened there again.
    try {
      Open();
      reopened_ = true;
    } catch (const std::exception& error) {
      problem = "the database " + path_ + " cannot be opened again: " + error.what();
    }
  } else if (!same) {
    problem = "the database " + path_ + " is gone" + (present ? " (replaced)" : "");
  } else if (!folderWritable || ::access(path_.c_str(), W_OK) != 0) {
    problem = "the database " + path_ + " cannot be written";
  }
  std::lock_guard said(problemMutex_);
  problem_ = problem;
  return problem_;
}

std::string Store::Problem() {
  // Never behind a write that waits for the database: health asks this.
  std::lock_guard said(problemMutex_);
  return problem_;
}

bool Store::TakeReopened() {
  std::lock_guard lock(mutex_);
  return std::exchange(reopened_, false);
}

void Store::RequireWritable() const {
  if (!problem_.empty()) throw sql::Error(problem_);
}

void Store::Migrate() {
  auto version = db_->Prepare("PRAGMA user_version");
  version.Step();
  const auto applied = static_cast<std::size_t>(version.Integer(0));
  if (applied > kMigrations.size()) {
    throw sql::Error("the database was written by a newer release (schema " +
                     std::to_string(applied) + ")");
  }
  for (std::size_t step = applied; step < kMigrations.size(); ++step) {
    sql::Transaction transaction(*db_);
    db_->Execute(kMigrations[step]);
    db_->Execute("PRAGMA user_version=" + std::to_string(step + 1));
    transaction.Commit();
  }
}

std::vector<PriceEntry> Store::Prices() {
  std::lock_guard lock(mutex_);
  auto query = db_->Prepare(
      "SELECT channel, dispenser, grade, price FROM prices ORDER BY channel, dispenser, grade");
  std::vector<PriceEntry> entries;
  while (query.Step()) {
    entries.push_back({static_cast<int>(query.Integer(0)), static_cast<int>(query.Integer(1)),
                       static_cast<int>(query.Integer(2)), query.Integer(3)});
  }
  return entries;
}

std::vector<PriceEntry> Store::PricesOf(int channel, int dispenser) {
  std::vector<PriceEntry> entries;
  for (const auto& entry : Prices()) {
    if (entry.channel == channel && entry.dispenser == dispenser) entries.push_back(entry);
  }
  return entries;
}

void Store::SavePrices(const std::vector<PriceEntry>& entries, const StoredEvent& event) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  for (const auto& entry : entries) {
    db_->Prepare(
           "INSERT INTO prices(channel, dispenser, grade, price) VALUES(?, ?, ?, ?) "
           "ON CONFLICT(channel, dispenser, grade) DO UPDATE SET price = excluded.price")
        .Bind(1, entry.channel)
        .Bind(2, entry.dispenser)
        .Bind(3, entry.grade)
        .Bind(4, entry.price)
        .Run();
  }
  InsertEvent(event);
  transaction.Commit();
}

std::int64_t Store::InsertFill(const FillRecord& fill) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  InsertWhole(fill, false);
  highestFill_ = std::max(highestFill_, db_->LastInsertId());
  return db_->LastInsertId();
}

// Every column of the row; with its id when `withId` (a row the database
// lost, written again).
void Store::InsertWhole(const FillRecord& fill, bool withId) {
  auto insert = db_->Prepare(
      "INSERT INTO fills(channel, dispenser, nozzle, grade, price, limit_kind, limit_value, "
      "authorized_by, authorized_at, finished_at, volume, amount, shown_volume, shown_amount, "
      "recovered, status, requested_grade, filling, mismatch, settled_from, id) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
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
      .Bind(16, StatusName(fill.status))
      .Bind(17, OptionalNumber(fill.requestedGrade))
      .Bind(18, fill.filling ? 1 : 0)
      .Bind(19, fill.mismatch ? 1 : 0)
      .Bind(20, SettledName(fill.settledFrom))
      .Bind(21, withId ? std::optional<std::int64_t>(fill.id) : std::nullopt)
      .Run();
}

void Store::AcknowledgeFill(std::int64_t id, const std::string& authorizedAt) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  db_->Prepare(
         "UPDATE fills SET status = 'open', authorized_at = ? WHERE id = ? AND status = 'pending'")
      .Bind(1, authorizedAt)
      .Bind(2, id)
      .Run();
}

void Store::UpdateOpenFill(const FillRecord& fill) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  db_->Prepare(
         "UPDATE fills SET nozzle = ?, grade = ?, price = ?, filling = ? "
         "WHERE id = ? AND status IN ('pending', 'open')")
      .Bind(1, fill.nozzle)
      .Bind(2, OptionalNumber(fill.grade))
      .Bind(3, fill.price)
      .Bind(4, fill.filling ? 1 : 0)
      .Bind(5, fill.id)
      .Run();
}

void Store::DeleteFill(std::int64_t id) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  db_->Prepare("DELETE FROM fills WHERE id = ? AND status = 'pending'").Bind(1, id).Run();
}

bool Store::EndFill(const FillRecord& fill, const StoredEvent& event) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  db_->Prepare(
         "UPDATE fills SET status = ?, nozzle = ?, grade = ?, price = ?, volume = ?, "
         "amount = ?, finished_at = ?, recovered = ?, authorized_at = ?, filling = ?, "
         "mismatch = ?, settled_from = ? WHERE id = ? AND status IN ('pending', 'open')")
      .Bind(1, StatusName(fill.status))
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
      .Bind(12, SettledName(fill.settledFrom))
      .Bind(13, fill.id)
      .Run();
  if (db_->Changes() != 1) {
    auto known = db_->Prepare("SELECT 1 FROM fills WHERE id = ?");
    known.Bind(1, fill.id);
    if (known.Step()) return false;
    // A database that lost the row (replaced while the fill ran) gets it whole.
    InsertWhole(fill, true);
  }
  InsertEvent(event);
  transaction.Commit();
  return true;
}

std::vector<FillRecord> Store::QueryFills(const std::string& where, std::int64_t a,
                                          std::int64_t b) {
  std::lock_guard lock(mutex_);
  auto query = db_->Prepare("SELECT " + std::string(kFillColumns) + " FROM fills WHERE " + where);
  query.Bind(1, a).Bind(2, b);
  std::vector<FillRecord> fills;
  while (query.Step()) fills.push_back(ReadFill(query));
  return fills;
}

std::vector<FillRecord> Store::OpenFills(int channel) {
  return QueryFills("status IN ('pending', 'open') AND channel = ? AND ? = 0 ORDER BY id", channel,
                    0);
}

std::vector<FillRecord> Store::CompletedFills(std::int64_t after, int limit) {
  return QueryFills("status = 'done' AND id > ? ORDER BY id LIMIT ?", after, limit);
}

std::optional<FillRecord> Store::Fill(std::int64_t id) {
  auto fills = QueryFills("id = ? AND status <> 'pending' AND ? = 0", id, 0);
  if (fills.empty()) return std::nullopt;
  return fills.front();
}

void Store::InsertEvent(const StoredEvent& event) {
  db_->Prepare("INSERT INTO events(id, name, data) VALUES(?, ?, ?)")
      .Bind(1, event.id)
      .Bind(2, event.name)
      .Bind(3, event.data)
      .Run();
}

std::vector<StoredEvent> Store::EventsAfter(std::int64_t after, std::int64_t upTo, int limit) {
  std::lock_guard lock(mutex_);
  auto query = db_->Prepare(
      "SELECT id, name, data FROM events WHERE id > ? AND id <= ? ORDER BY id LIMIT ?");
  query.Bind(1, after).Bind(2, upTo).Bind(3, std::int64_t{limit});
  std::vector<StoredEvent> events;
  while (query.Step()) events.push_back({query.Integer(0), query.Text(1), query.Text(2)});
  return events;
}

std::int64_t Store::EventIdFloor() {
  std::lock_guard lock(mutex_);
  auto query = db_->Prepare(
      "SELECT max(coalesce((SELECT max(id) FROM events), 0), "
      "coalesce((SELECT value FROM counters WHERE name = ?), 0))");
  query.Bind(1, std::string(kEventIdCounter));
  query.Step();
  return query.Integer(0);
}

void Store::ReserveEventIds(std::int64_t upTo) {
  std::lock_guard lock(mutex_);
  reservedEvents_ = std::max(reservedEvents_, upTo);
  // Written again when the database can be; events go on meanwhile.
  if (problem_.empty()) WriteReservation(upTo);
}

void Store::WriteReservation(std::int64_t upTo) {
  db_->Prepare(
         "INSERT INTO counters(name, value) VALUES(?, ?) "
         "ON CONFLICT(name) DO UPDATE SET value = max(value, excluded.value)")
      .Bind(1, std::string(kEventIdCounter))
      .Bind(2, upTo)
      .Run();
}

}  // namespace quorlan::station
