// SPDX-License-Identifier: Apache-2.0
#include "station/journal/Database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <utility>

#include "station/metrics/Metrics.h"

namespace quorlan::station {

namespace {

// Each release appends its step; user_version counts the steps applied.
constexpr std::array<std::string_view, 4> kMigrations{
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

    // ---- An authorization's outcome after a restart: the idempotent
    // request that sent it, and the nozzles' totals before it, which tell
    // the nozzle of a fill that ended while the service was away.
    R"(ALTER TABLE fills ADD COLUMN request TEXT;
       CREATE INDEX fills_by_request ON fills(request) WHERE request IS NOT NULL;
       CREATE TABLE fill_totals(
         fill INTEGER NOT NULL, nozzle INTEGER NOT NULL,
         volume INTEGER NOT NULL, amount INTEGER NOT NULL,
         PRIMARY KEY(fill, nozzle));)",
};

// Counts the service's starts; its write at each start proves the database
// writable.
constexpr std::string_view kStartsCounter = "starts";

}  // namespace

Database::Database(std::string path) : path_(std::move(path)) {}

void Database::Commit(sql::Transaction& transaction) {
  const auto started = std::chrono::steady_clock::now();
  transaction.Commit();
  ServiceMetrics().journalCommit.Observe(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

void Database::AtOpen(std::function<void(sql::Database& db)> step) {
  atOpen_.push_back(std::move(step));
}

void Database::Open() {
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
  for (const auto& step : atOpen_) step(*db_);
  if (feed_) feed_->Prepare(*db_);
  std::lock_guard read(readMutex_);
  reader_ = std::make_unique<sql::Database>(path_);
  reader_->Execute("PRAGMA query_only=ON");
}

std::string Database::Check() {
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

std::string Database::Problem() {
  // Never behind a write that waits for the database: health asks this.
  std::lock_guard said(problemMutex_);
  if (problem_.empty() && db_->Failing()) {
    return "the database " + path_ + " cannot be written (the disk is full or failing)";
  }
  return problem_;
}

bool Database::TakeReopened() {
  std::lock_guard lock(mutex_);
  return std::exchange(reopened_, false);
}

std::uint64_t Database::LockWaits() {
  std::lock_guard said(problemMutex_);
  return earlierLockWaits_ + db_->LockWaits();
}

void Database::SetFeed(ChangeFeed* feed) {
  std::lock_guard lock(mutex_);
  if (feed) {
    RequireWritable();
    feed->Prepare(*db_);
  }
  feed_ = feed;
}

void Database::Write(const std::function<void(sql::Database& db)>& change) {
  std::lock_guard lock(mutex_);
  RequireWritable();
  sql::Transaction transaction(*db_);
  change(*db_);
  transaction.Commit();
}

void Database::RequireWritable() const {
  if (!problem_.empty()) throw sql::Unavailable(sql::Unavailable::Reason::ReadOnly, problem_);
}

void Database::CheckUsable() {
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

void Database::Migrate() {
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

}  // namespace quorlan::station
