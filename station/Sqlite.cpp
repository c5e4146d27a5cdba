#include "station/Sqlite.h"

namespace quorlan::station::sql {

namespace {

void Check(sqlite3* db, int result, std::string_view what) {
  if (result != SQLITE_OK && result != SQLITE_ROW && result != SQLITE_DONE) {
    throw Error(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
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
  sqlite3_busy_timeout(db_, 5000);
}

Database::~Database() {
  sqlite3_close(db_);
}

void Database::Execute(std::string_view sql) {
  char* message = nullptr;
  const std::string text(sql);
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string error = message ? message : "failed";
    sqlite3_free(message);
    throw Error(error);
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
}

}  // namespace quorlan::station::sql
