#include "station/sql/Sqlite.h"

#include <algorithm>
#include <thread>

namespace quorlan::station::sql {

namespace {

// The longest single sleep while waiting for a lock: short enough that the
// lock is taken soon after it is released.
constexpr std::chrono::milliseconds kLongestNap{20};

std::string_view Words(Unavailable::Reason reason) {
  switch (reason) {
    case Unavailable::Reason::Locked:
      return "the database is locked by another process";
    case Unavailable::Reason::ReadOnly:
      return "the database cannot be written (read-only)";
    case Unavailable::Reason::Full:
      return "the disk of the database is full";
    case Unavailable::Reason::Corrupt:
      return "the database is corrupt";
    case Unavailable::Reason::InputOutput:
      break;
  }
  return "the database cannot be read or written";
}

// The failures that are the database's state rather than a fault of ours.
std::optional<Unavailable::Reason> ReasonOf(int result) {
  switch (result & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Unavailable::Reason::Locked;
    case SQLITE_READONLY:
      return Unavailable::Reason::ReadOnly;
    case SQLITE_FULL:
      return Unavailable::Reason::Full;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Unavailable::Reason::Corrupt;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      return Unavailable::Reason::InputOutput;
    default:
      return std::nullopt;
  }
}

[[noreturn]] void Fail(int result, std::string_view what, const char* message) {
  const std::string cause = std::string(what) + ": " + (message ? message : sqlite3_errstr(result));
  if (const auto reason = ReasonOf(result)) throw Unavailable(*reason, cause);
  throw Error(cause);
}

void Check(sqlite3* db, int result, std::string_view what) {
  if (result != SQLITE_OK && result != SQLITE_ROW && result != SQLITE_DONE) {
    Fail(sqlite3_extended_errcode(db), what, sqlite3_errmsg(db));
  }
}

}  // namespace

Unavailable::Unavailable(Reason reason, std::string cause)
    : Error(std::string(Words(reason))), reason_(reason), cause_(std::move(cause)) {}

Statement::Statement(sqlite3* db, std::string_view sql, Database* owner) : db_(db), owner_(owner) {
  Check(db_,
        sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr),
        "prepare");
}

Statement::~Statement() {
  sqlite3_finalize(statement_);
}

Statement& Statement::Bind(int index, std::int64_t value) {
  Check(db_, sqlite3_bind_int64(statement_, index, value), "bind");
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  Check(db_,
        sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT),
        "bind");
  return *this;
}

Statement& Statement::Bind(int index, std::nullptr_t) {
  Check(db_, sqlite3_bind_null(statement_, index), "bind");
  return *this;
}

bool Statement::Step() {
  const int result = sqlite3_step(statement_);
  if (owner_) owner_->Note(result, sqlite3_stmt_readonly(statement_) == 0);
  Check(db_, result, "step");
  return result == SQLITE_ROW;
}

void Statement::Run() {
  while (Step()) {
  }
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::int64_t Statement::Integer(int column) const {
  return sqlite3_column_int64(statement_, column);
}

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
              : std::string();
}

std::optional<std::int64_t> Statement::OptionalInteger(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Integer(column);
}

std::optional<std::string> Statement::OptionalText(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Text(column);
}

Database::Database(const std::string& path) {
  const int result =
      sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (result != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw Error("cannot open the database " + path + ": " + message);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_handler(db_, &Database::WaitForLock, this);
}

int Database::WaitForLock(void* self, int attempt) {
  auto& database = *static_cast<Database*>(self);
  const auto now = std::chrono::steady_clock::now();
  // Called only while the connection's mutex is held: one wait at a time.
  if (attempt == 0) database.waitStarted_ = now;
  if (now - database.waitStarted_ >= kLockWait) return 0;
  ++database.lockWaits_;
  std::this_thread::sleep_for(
      std::min<std::chrono::milliseconds>(std::chrono::milliseconds(1 + attempt), kLongestNap));
  return 1;
}

bool Database::Writable() const {
  return sqlite3_db_readonly(db_, "main") == 0;
}

Database::~Database() {
  sqlite3_close(db_);
}

void Database::Execute(std::string_view sql) {
  char* message = nullptr;
  const std::string text(sql);
  const int result = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
  Note(result, false);
  if (result != SQLITE_OK) {
    const std::string error = message ? message : "failed";
    sqlite3_free(message);
    Fail(sqlite3_extended_errcode(db_), "execute", error.c_str());
  }
}

void Database::Note(int result, bool wrote) {
  const int primary = result & 0xFF;
  if (primary == SQLITE_FULL || primary == SQLITE_IOERR) {
    failing_ = true;
  } else if (wrote && result == SQLITE_DONE && sqlite3_get_autocommit(db_)) {
    failing_ = false;  // a write outside a transaction committed by itself
  }
}

std::int64_t Database::LastInsertId() const {
  return sqlite3_last_insert_rowid(db_);
}

int Database::Changes() const {
  return sqlite3_changes(db_);
}

Transaction::Transaction(Database& db) : db_(db) {
  db_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!done_) {
    try {
      db_.Execute("ROLLBACK");
    } catch (...) {
      // Nothing to do: the connection rolls back by itself when it fails.
    }
  }
}

void Transaction::Commit() {
  db_.Execute("COMMIT");
  done_ = true;
  db_.failing_ = false;
}

}  // namespace quorlan::station::sql
