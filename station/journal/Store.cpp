#include "station/journal/Store.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <utility>

#include "station/metrics/Metrics.h"

namespace quorlan::station {

namespace {

// Every write of the journal ends here: the figure of its disk's pace.
void Commit(sql::Transaction& transaction) {
  const auto started = std::chrono::steady_clock::now();
  transaction.Commit();
  ServiceMetrics().journalCommit.Observe(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// Each release appends its step; user_version counts the steps applied.
constexpr std::array<std::string_view, 3> kMigrations{
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
    // Settlement, shifts and idempotent answers. `shift` of a fill is the
    // closed shift that counted it (NULL: the open one); shift_totals holds
    // each shift's opening totals (NULL figures: the nozzle did not answer).
    // The indexes serve the fill queries: unpaid, per dispenser, per day.
    R"(ALTER TABLE fills ADD COLUMN paid INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE fills ADD COLUMN paid_by TEXT;
       ALTER TABLE fills ADD COLUMN paid_at TEXT;
       ALTER TABLE fills ADD COLUMN reference TEXT;
       ALTER TABLE fills ADD COLUMN locked_by TEXT;
       ALTER TABLE fills ADD COLUMN locked_until TEXT;
       ALTER TABLE fills ADD COLUMN shift INTEGER;
       CREATE INDEX fills_by_payment ON fills(status, paid, id);
       CREATE INDEX fills_by_dispenser ON fills(dispenser, id);
       CREATE INDEX fills_by_time ON fills(status, coalesce(finished_at, authorized_at));
       CREATE INDEX fills_by_shift ON fills(shift, status);
       CREATE TABLE shifts(
         id INTEGER PRIMARY KEY AUTOINCREMENT,
         opened_at TEXT NOT NULL, closed_at TEXT, closed_by TEXT, report TEXT);
       CREATE TABLE shift_totals(
         shift INTEGER NOT NULL REFERENCES shifts(id),
         channel INTEGER NOT NULL, dispenser INTEGER NOT NULL, nozzle INTEGER NOT NULL,
         volume INTEGER, amount INTEGER,
         PRIMARY KEY(shift, channel, dispenser, nozzle));
       CREATE TABLE idempotency(
         token TEXT NOT NULL, method TEXT NOT NULL, path TEXT NOT NULL, key TEXT NOT NULL,
         body_hash TEXT NOT NULL, status INTEGER NOT NULL, content_type TEXT NOT NULL,
         body TEXT NOT NULL, created_at INTEGER NOT NULL,
         PRIMARY KEY(token, method, path, key));
       CREATE INDEX idempotency_by_age ON idempotency(created_at);)",

    // ---- The sale's whole life: what a plain authorization asked, whether
    // fuel flowed, an amount that is not price × volume, and where the
    // figures of a fill whose display was lost come from.
    R"(ALTER TABLE fills ADD COLUMN requested_grade INTEGER;
       ALTER TABLE fills ADD COLUMN filling INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE fills ADD COLUMN mismatch INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE fills ADD COLUMN settled_from TEXT NOT NULL DEFAULT 'readout';)",
};

// How each stage of a fill is written in the status column. A pending row
// is not acknowledged yet and may still go: no query shows it.
const FillStatusWords kStatusWords{{"done"}, {"cancelled"}, {"open"}};

constexpr std::string_view kEventIdCounter = "event_id";

// Counts the service's starts; its write at each start proves the database
// writable.
constexpr std::string_view kStartsCounter = "starts";

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
    "requested_grade, filling, mismatch, settled_from, "
    "paid, paid_by, paid_at, reference, locked_by, locked_until";

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

std::optional<Instant> OptionalInstant(const sql::Statement& row, int column) {
  const auto text = row.OptionalText(column);
  return text ? ParseRfc3339(*text) : std::nullopt;
}

std::optional<std::string> OptionalStamp(const std::optional<Instant>& instant) {
  return instant ? std::optional<std::string>(FormatUtc(*instant)) : std::nullopt;
}

void Bind(sql::Statement& statement, int index, const SqlValue& value) {
  std::visit([&](const auto& v) { statement.Bind(index, v); }, value);
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
  fill.settlement.paid = row.Integer(21) != 0;
  fill.settlement.paidBy = row.OptionalText(22);
  fill.settlement.paidAt = OptionalInstant(row, 23);
  fill.settlement.reference = row.OptionalText(24);
  fill.settlement.lockedBy = row.OptionalText(25);
  fill.settlement.lockedUntil = OptionalInstant(row, 26);
  return fill;
}

}  // namespace

Store::Store(const std::string& path) : path_(path) {
  Open();
}

void Store::Open() {
  auto fresh = std::make_unique<sql::Database>(path_);
  {
    std::lock_guard said(problemMutex_);
    if (db_) earlierLockWaits_ += db_->LockWaits();
    db_ = std::move(fresh);
  }
  db_->Execute("PRAGMA journal_mode=WAL");
  db_->Execute("PRAGMA synchronous=FULL");
  db_->Execute("PRAGMA foreign_keys=ON");
  Migrate();
  CheckUsable();
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
  if (feed_) feed_->Prepare(*db_);
  {
    std::lock_guard read(readMutex_);
    reader_ = std::make_unique<sql::Database>(path_);
    reader_->Execute("PRAGMA query_only=ON");
  }
  CountUnpaid();
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
  if (problem_.empty() && db_->Failing()) {
    return "the database " + path_ + " cannot be written (the disk is full or failing)";
  }
  return problem_;
}

std::uint64_t Store::LockWaits() {
  std::lock_guard said(problemMutex_);
  return earlierLockWaits_ + db_->LockWaits();
}

void Store::SetFeed(ChangeFeed* feed) {
  std::lock_guard lock(mutex_);
  if (feed) {
    RequireWritable();
    feed->Prepare(*db_);
  }
  feed_ = feed;
}

void Store::Write(const std::function<void(sql::Database& db)>& change) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  change(*db_);
  transaction.Commit();
}

void Store::FeedFill(std::int64_t id) {
  if (!feed_) return;
  auto query = db_->Prepare("SELECT " + std::string(kFillColumns) + " FROM fills WHERE id = ?");
  query.Bind(1, id);
  if (!query.Step()) return;
  const FillRecord fill = ReadFill(query);
  if (fill.status != FillStatus::Pending) feed_->Fill(*db_, fill);
}

bool Store::TakeReopened() {
  std::lock_guard lock(mutex_);
  return std::exchange(reopened_, false);
}

void Store::RequireWritable() const {
  if (!problem_.empty()) throw sql::Unavailable(sql::Unavailable::Reason::ReadOnly, problem_);
}

void Store::CheckUsable() {
  auto check = db_->Prepare("PRAGMA quick_check(1)");
  if (check.Step() && check.Text(0) != "ok") {
    throw sql::Unavailable(sql::Unavailable::Reason::Corrupt, "quick check: " + check.Text(0));
  }
  // SQLite opens a file it may not write read-only without a word; only a
  // committed write proves the journal can take a fill.
  if (!db_->Writable()) {
    throw sql::Unavailable(sql::Unavailable::Reason::ReadOnly, "opened read-only");
  }
  db_->Prepare(
         "INSERT INTO counters(name, value) VALUES(?, 1) "
         "ON CONFLICT(name) DO UPDATE SET value = value + 1")
      .Bind(1, std::string(kStartsCounter))
      .Run();
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
    Commit(transaction);
  }
}

std::vector<PriceEntry> Store::Prices() {
  std::lock_guard lock(readMutex_);
  auto query = reader_->Prepare(
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
  Commit(transaction);
}

std::int64_t Store::InsertFill(const FillRecord& fill) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  InsertWhole(fill, false);
  const std::int64_t id = db_->LastInsertId();
  FeedFill(id);
  transaction.Commit();
  highestFill_ = std::max(highestFill_, id);
  return id;
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
  sql::Transaction transaction(*db_);
  db_->Prepare(
         "UPDATE fills SET status = 'open', authorized_at = ? WHERE id = ? AND status = 'pending'")
      .Bind(1, authorizedAt)
      .Bind(2, id)
      .Run();
  if (db_->Changes() == 1) FeedFill(id);
  transaction.Commit();
}

void Store::UpdateOpenFill(const FillRecord& fill) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  db_->Prepare(
         "UPDATE fills SET nozzle = ?, grade = ?, price = ?, filling = ? "
         "WHERE id = ? AND status IN ('pending', 'open')")
      .Bind(1, fill.nozzle)
      .Bind(2, OptionalNumber(fill.grade))
      .Bind(3, fill.price)
      .Bind(4, fill.filling ? 1 : 0)
      .Bind(5, fill.id)
      .Run();
  if (db_->Changes() == 1) FeedFill(fill.id);
  transaction.Commit();
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
  FeedFill(fill.id);
  InsertEvent(event);
  Commit(transaction);
  ServiceMetrics().fills[static_cast<std::size_t>(fill.status)].Add();
  RecountUnpaidLocked(fill.channel, fill.dispenser);
  return true;
}

std::vector<FillRecord> Store::QueryFills(const std::string& where, std::int64_t a,
                                          std::int64_t b) {
  std::lock_guard lock(readMutex_);
  auto query =
      reader_->Prepare("SELECT " + std::string(kFillColumns) + " FROM fills WHERE " + where);
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
  std::lock_guard lock(readMutex_);
  auto query = reader_->Prepare(
      "SELECT id, name, data FROM events WHERE id > ? AND id <= ? ORDER BY id LIMIT ?");
  query.Bind(1, after).Bind(2, upTo).Bind(3, std::int64_t{limit});
  std::vector<StoredEvent> events;
  while (query.Step()) events.push_back({query.Integer(0), query.Text(1), query.Text(2)});
  return events;
}

std::int64_t Store::EventIdFloor() {
  std::lock_guard lock(readMutex_);
  auto query = reader_->Prepare(
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

// Under mutex_, or before the store is shared.
void Store::CountUnpaid() {
  auto query = db_->Prepare(
      "SELECT channel, dispenser, count(*) FROM fills INDEXED BY fills_by_payment "
      "WHERE status = ? AND paid = 0 "
      "GROUP BY channel, dispenser");
  query.Bind(1, kStatusWords.completed.front());
  std::map<std::pair<int, int>, int> counts;
  while (query.Step()) {
    counts[{static_cast<int>(query.Integer(0)), static_cast<int>(query.Integer(1))}] =
        static_cast<int>(query.Integer(2));
  }
  std::lock_guard countsLock(unpaidMutex_);
  unpaid_ = std::move(counts);
}

void Store::RecountUnpaidLocked(int channel, int dispenser) {
  auto query = db_->Prepare(
      "SELECT count(*) FROM fills INDEXED BY fills_by_payment "
      "WHERE status = ? AND paid = 0 AND channel = ? AND "
      "dispenser = ?");
  query.Bind(1, kStatusWords.completed.front()).Bind(2, channel).Bind(3, dispenser);
  query.Step();
  std::lock_guard countsLock(unpaidMutex_);
  unpaid_[{channel, dispenser}] = static_cast<int>(query.Integer(0));
}

int Store::Unpaid(int channel, int dispenser) {
  std::lock_guard lock(unpaidMutex_);
  const auto at = unpaid_.find({channel, dispenser});
  return at == unpaid_.end() ? 0 : at->second;
}

std::vector<FillRecord> Store::FindFills(const FillQuery& query) {
  const SqlCondition condition = FillCondition(query, kStatusWords);
  std::lock_guard lock(readMutex_);
  auto statement = reader_->Prepare(fmt::format("SELECT {} FROM fills WHERE {} ORDER BY id LIMIT ?",
                                                kFillColumns, condition.where));
  int index = 1;
  for (const SqlValue& value : condition.values) Bind(statement, index++, value);
  statement.Bind(index, std::int64_t{query.limit});
  std::vector<FillRecord> fills;
  while (statement.Step()) fills.push_back(ReadFill(statement));
  return fills;
}

std::optional<FillRecord> Store::SettleableFill(std::int64_t id) {
  auto fills = QueryFills("id = ? AND ? = 0", id, 0);
  if (fills.empty()) return std::nullopt;
  return fills.front();
}

SaleStage Store::Stage(const FillRecord& fill) {
  const std::string word = StatusName(fill.status);
  if (word == kStatusWords.completed.front()) return SaleStage::Completed;
  if (word == kStatusWords.cancelled.front()) return SaleStage::Cancelled;
  return SaleStage::Open;
}

void Store::WriteSettlement(const FillRecord& fill, const StoredEvent& event) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  const Settlement& settlement = fill.settlement;
  db_->Prepare(
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
  FeedFill(fill.id);
  InsertEvent(event);
  Commit(transaction);
  RecountUnpaidLocked(fill.channel, fill.dispenser);
}

std::vector<std::int64_t> Store::UnpaidFills(int channel, int dispenser) {
  std::lock_guard lock(mutex_);
  auto query = db_->Prepare(
      "SELECT id FROM fills INDEXED BY fills_by_payment "
      "WHERE status = ? AND paid = 0 AND dispenser = ? AND channel = ? "
      "ORDER BY id");
  query.Bind(1, kStatusWords.completed.front()).Bind(2, dispenser).Bind(3, channel);
  std::vector<std::int64_t> ids;
  while (query.Step()) ids.push_back(query.Integer(0));
  return ids;
}

std::vector<FillRecord> Store::LapsedLocks(const std::string& now) {
  std::lock_guard lock(mutex_);
  // Only a completed unpaid fill holds a lock: the unpaid stack is short.
  auto query = db_->Prepare(fmt::format(
      "SELECT {} FROM fills INDEXED BY fills_by_payment "
      "WHERE status = ? AND paid = 0 AND locked_until IS NOT NULL AND locked_until <= ? "
      "ORDER BY id",
      kFillColumns));
  query.Bind(1, kStatusWords.completed.front()).Bind(2, now);
  std::vector<FillRecord> fills;
  while (query.Step()) fills.push_back(ReadFill(query));
  return fills;
}

std::vector<FillRecord> Store::UnpaidBefore(const std::string& finishedBefore, std::int64_t after) {
  std::lock_guard lock(mutex_);
  auto query =
      db_->Prepare(fmt::format("SELECT {} FROM fills INDEXED BY fills_by_payment "
                               "WHERE status = ? AND paid = 0 AND id > ? AND finished_at < ? "
                               "ORDER BY id",
                               kFillColumns));
  query.Bind(1, kStatusWords.completed.front()).Bind(2, after).Bind(3, finishedBefore);
  std::vector<FillRecord> fills;
  while (query.Step()) fills.push_back(ReadFill(query));
  return fills;
}

std::optional<IdempotencyRecord> Store::Find(const IdempotencyScope& scope, Instant since) {
  std::lock_guard lock(mutex_);
  auto query = db_->Prepare(
      "SELECT body_hash, status, content_type, body, created_at FROM idempotency "
      "WHERE token = ? AND method = ? AND path = ? AND key = ? AND created_at >= ?");
  query.Bind(1, scope.token)
      .Bind(2, scope.method)
      .Bind(3, scope.path)
      .Bind(4, scope.key)
      .Bind(5, std::int64_t{since.time_since_epoch().count()});
  if (!query.Step()) return std::nullopt;
  return IdempotencyRecord{query.Text(0),
                           {static_cast<int>(query.Integer(1)), query.Text(2), query.Text(3)},
                           Instant{std::chrono::milliseconds{query.Integer(4)}}};
}

void Store::Save(const IdempotencyScope& scope, const IdempotencyRecord& record,
                 Instant forgetBefore) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  db_->Prepare("DELETE FROM idempotency WHERE created_at < ?")
      .Bind(1, std::int64_t{forgetBefore.time_since_epoch().count()})
      .Run();
  // The answer replaces the key's reservation; an expired record gives way.
  db_->Prepare(
         "INSERT INTO idempotency(token, method, path, key, body_hash, status, content_type, "
         "body, created_at) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?) "
         "ON CONFLICT(token, method, path, key) DO UPDATE SET body_hash = excluded.body_hash, "
         "status = excluded.status, content_type = excluded.content_type, body = excluded.body, "
         "created_at = excluded.created_at")
      .Bind(1, scope.token)
      .Bind(2, scope.method)
      .Bind(3, scope.path)
      .Bind(4, scope.key)
      .Bind(5, record.bodyHash)
      .Bind(6, std::int64_t{record.answer.status})
      .Bind(7, record.answer.contentType)
      .Bind(8, record.answer.body)
      .Bind(9, std::int64_t{record.createdAt.time_since_epoch().count()})
      .Run();
  Commit(transaction);
}

void Store::Forget(const IdempotencyScope& scope) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  db_->Prepare("DELETE FROM idempotency WHERE token = ? AND method = ? AND path = ? AND key = ?")
      .Bind(1, scope.token)
      .Bind(2, scope.method)
      .Bind(3, scope.path)
      .Bind(4, scope.key)
      .Run();
}

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

Store::OpenShift Store::CurrentShift(const std::string& openedAt) {
  std::lock_guard lock(mutex_);
  sql::Transaction transaction(*db_);
  auto query = db_->Prepare("SELECT id, opened_at FROM shifts WHERE closed_at IS NULL");
  OpenShift shift;
  if (query.Step()) {
    shift.id = query.Integer(0);
    shift.openedAt = query.Text(1);
  } else {
    db_->Prepare("INSERT INTO shifts(opened_at) VALUES(?)").Bind(1, openedAt).Run();
    shift.id = db_->LastInsertId();
    shift.openedAt = openedAt;
    shift.first = true;
  }
  shift.opening = ReadTotals(*db_, shift.id);
  Commit(transaction);
  return shift;
}

void Store::SetOpeningTotals(std::int64_t shift, const std::vector<NozzleReading>& readings) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  WriteTotals(*db_, shift, readings, false);
  Commit(transaction);
}

std::string Store::CloseShift(const ShiftClosing& closing, const MakeReport& makeReport,
                              StoredEvent& event) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  // Every fill ended by now is the closing shift's; later ones the next's.
  auto assign = db_->Prepare(
      "UPDATE fills INDEXED BY fills_by_shift SET shift = ? "
      "WHERE shift IS NULL AND status IN (?, ?)");
  assign.Bind(1, closing.shift)
      .Bind(2, kStatusWords.completed.front())
      .Bind(3, kStatusWords.cancelled.front())
      .Run();

  ShiftInput input;
  input.id = closing.shift;
  auto opened = db_->Prepare("SELECT opened_at FROM shifts WHERE id = ? AND closed_at IS NULL");
  opened.Bind(1, closing.shift);
  if (!opened.Step()) throw sql::Error(fmt::format("shift {} is not open", closing.shift));
  input.openedAt = opened.Text(0);
  auto fills = db_->Prepare(
      "SELECT channel, dispenser, nozzle, grade, volume, amount, status "
      "FROM fills INDEXED BY fills_by_shift WHERE shift = ? AND status IN (?, ?)");
  fills.Bind(1, closing.shift)
      .Bind(2, kStatusWords.completed.front())
      .Bind(3, kStatusWords.cancelled.front());
  while (fills.Step()) {
    ShiftFill fill;
    fill.nozzle = {static_cast<int>(fills.Integer(0)), static_cast<int>(fills.Integer(1)),
                   static_cast<int>(fills.Integer(2))};
    if (!fills.IsNull(3)) fill.grade = static_cast<int>(fills.Integer(3));
    fill.sold = {fills.Integer(4), fills.Integer(5)};
    fill.cancelled = fills.Text(6) == kStatusWords.cancelled.front();
    input.fills.push_back(fill);
  }
  auto unpaid = db_->Prepare(
      "SELECT count(*), coalesce(sum(amount), 0) FROM fills INDEXED BY fills_by_payment "
      "WHERE status = ? AND paid = 0");
  unpaid.Bind(1, kStatusWords.completed.front());
  unpaid.Step();
  input.unpaidCount = static_cast<int>(unpaid.Integer(0));
  input.unpaidAmount = unpaid.Integer(1);

  const auto opening = ReadTotals(*db_, closing.shift);
  for (NozzleReading reading : closing.readings) {
    for (const NozzleReading& open : opening) {
      if (open.nozzle == reading.nozzle) reading.open = open.open;
    }
    input.nozzles.push_back(reading);
  }
  const std::string report = makeReport(input);
  event.data = report;

  db_->Prepare("UPDATE shifts SET closed_at = ?, closed_by = ?, report = ? WHERE id = ?")
      .Bind(1, closing.closedAt)
      .Bind(2, closing.closedBy)
      .Bind(3, report)
      .Bind(4, closing.shift)
      .Run();
  db_->Prepare("INSERT INTO shifts(opened_at) VALUES(?)").Bind(1, closing.closedAt).Run();
  WriteTotals(*db_, db_->LastInsertId(), closing.readings, true);
  if (feed_) feed_->Shift(*db_, closing.shift, report);
  InsertEvent(event);
  Commit(transaction);
  return report;
}

std::vector<std::string> Store::ClosedShifts(std::int64_t after, int limit) {
  std::lock_guard lock(mutex_);
  auto query = db_->Prepare(
      "SELECT report FROM shifts WHERE closed_at IS NOT NULL AND id > ? ORDER BY id LIMIT ?");
  query.Bind(1, after).Bind(2, std::int64_t{limit});
  std::vector<std::string> reports;
  while (query.Step()) reports.push_back(query.Text(0));
  return reports;
}

std::optional<std::string> Store::ClosedShift(std::int64_t id) {
  std::lock_guard lock(mutex_);
  auto query = db_->Prepare("SELECT report FROM shifts WHERE closed_at IS NOT NULL AND id = ?");
  query.Bind(1, id);
  if (!query.Step()) return std::nullopt;
  return query.Text(0);
}

}  // namespace quorlan::station
