#include "station/Store.h"

#include <array>

namespace quorlan::station {

namespace {

// Each release appends its step; user_version counts the steps applied.
constexpr std::array<std::string_view, 1> kMigrations{
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
       CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);)"};

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
    "authorized_at, finished_at, volume, amount, shown_volume, shown_amount, recovered, status";

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
  return fill;
}

}  // namespace

Store::Store(const std::string& path) : db_(path) {
  db_.Execute("PRAGMA journal_mode=WAL");
  db_.Execute("PRAGMA synchronous=FULL");
  db_.Execute("PRAGMA foreign_keys=ON");
  Migrate();
}

void Store::Migrate() {
  auto version = db_.Prepare("PRAGMA user_version");
  version.Step();
  const auto applied = static_cast<std::size_t>(version.Integer(0));
  if (applied > kMigrations.size()) {
    throw sql::Error("the database was written by a newer release (schema " +
                     std::to_string(applied) + ")");
  }
  for (std::size_t step = applied; step < kMigrations.size(); ++step) {
    sql::Transaction transaction(db_);
    db_.Execute(kMigrations[step]);
    db_.Execute("PRAGMA user_version=" + std::to_string(step + 1));
    transaction.Commit();
  }
}

std::vector<PriceEntry> Store::Prices() {
  std::lock_guard lock(mutex_);
  auto query = db_.Prepare(
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
  sql::Transaction transaction(db_);
  for (const auto& entry : entries) {
    db_.Prepare(
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
  db_.Prepare(
         "INSERT INTO fills(channel, dispenser, nozzle, grade, price, limit_kind, limit_value, "
         "authorized_by, authorized_at, finished_at, volume, amount, shown_volume, shown_amount, "
         "recovered, status) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, NULL, 0, 0, ?, ?, 0, ?)")
      .Bind(1, fill.channel)
      .Bind(2, fill.dispenser)
      .Bind(3, fill.nozzle)
      .Bind(4, fill.grade ? std::optional<std::int64_t>(*fill.grade) : std::nullopt)
      .Bind(5, fill.price)
      .Bind(6, std::string(KindName(fill.limit.kind)))
      .Bind(7, fill.limit.value)
      .Bind(8, fill.authorizedBy)
      .Bind(9, fill.authorizedAt)
      .Bind(10, fill.shownVolume)
      .Bind(11, fill.shownAmount)
      .Bind(12, StatusName(fill.status))
      .Run();
  return db_.LastInsertId();
}

void Store::AcknowledgeFill(std::int64_t id, const std::string& authorizedAt) {
  std::lock_guard lock(mutex_);
  db_.Prepare(
         "UPDATE fills SET status = 'open', authorized_at = ? WHERE id = ? AND status = 'pending'")
      .Bind(1, authorizedAt)
      .Bind(2, id)
      .Run();
}

void Store::DeleteFill(std::int64_t id) {
  std::lock_guard lock(mutex_);
  db_.Prepare("DELETE FROM fills WHERE id = ? AND status = 'pending'").Bind(1, id).Run();
}

void Store::CancelFill(std::int64_t id) {
  std::lock_guard lock(mutex_);
  db_.Prepare(
         "UPDATE fills SET status = 'cancelled' WHERE id = ? AND status IN ('pending', 'open')")
      .Bind(1, id)
      .Run();
}

bool Store::CompleteFill(const FillRecord& fill, const StoredEvent& event) {
  std::lock_guard lock(mutex_);
  sql::Transaction transaction(db_);
  db_.Prepare(
         "UPDATE fills SET status = 'done', nozzle = ?, grade = ?, price = ?, volume = ?, "
         "amount = ?, finished_at = ?, recovered = ?, authorized_at = ? "
         "WHERE id = ? AND status IN ('pending', 'open')")
      .Bind(1, fill.nozzle)
      .Bind(2, fill.grade ? std::optional<std::int64_t>(*fill.grade) : std::nullopt)
      .Bind(3, fill.price)
      .Bind(4, fill.volume)
      .Bind(5, fill.amount)
      .Bind(6, fill.finishedAt)
      .Bind(7, fill.recovered ? 1 : 0)
      .Bind(8, fill.authorizedAt)
      .Bind(9, fill.id)
      .Run();
  if (db_.Changes() != 1) return false;
  InsertEvent(event);
  transaction.Commit();
  return true;
}

std::vector<FillRecord> Store::QueryFills(const std::string& where, std::int64_t a,
                                          std::int64_t b) {
  std::lock_guard lock(mutex_);
  auto query = db_.Prepare("SELECT " + std::string(kFillColumns) + " FROM fills WHERE " + where);
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
  auto fills = QueryFills("id = ? AND status IN ('open', 'done') AND ? = 0", id, 0);
  if (fills.empty()) return std::nullopt;
  return fills.front();
}

void Store::InsertEvent(const StoredEvent& event) {
  db_.Prepare("INSERT INTO events(id, name, data) VALUES(?, ?, ?)")
      .Bind(1, event.id)
      .Bind(2, event.name)
      .Bind(3, event.data)
      .Run();
}

std::vector<StoredEvent> Store::EventsAfter(std::int64_t after, std::int64_t upTo, int limit) {
  std::lock_guard lock(mutex_);
  auto query =
      db_.Prepare("SELECT id, name, data FROM events WHERE id > ? AND id <= ? ORDER BY id LIMIT ?");
  query.Bind(1, after).Bind(2, upTo).Bind(3, std::int64_t{limit});
  std::vector<StoredEvent> events;
  while (query.Step()) events.push_back({query.Integer(0), query.Text(1), query.Text(2)});
  return events;
}

std::int64_t Store::EventIdFloor() {
  std::lock_guard lock(mutex_);
  auto query = db_.Prepare(
      "SELECT max(coalesce((SELECT max(id) FROM events), 0), "
      "coalesce((SELECT value FROM counters WHERE name = ?), 0))");
  query.Bind(1, std::string(kEventIdCounter));
  query.Step();
  return query.Integer(0);
}

void Store::ReserveEventIds(std::int64_t upTo) {
  std::lock_guard lock(mutex_);
  db_.Prepare(
         "INSERT INTO counters(name, value) VALUES(?, ?) "
         "ON CONFLICT(name) DO UPDATE SET value = max(value, excluded.value)")
      .Bind(1, std::string(kEventIdCounter))
      .Bind(2, upTo)
      .Run();
}

}  // namespace quorlan::station
