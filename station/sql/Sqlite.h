#pragma once
// A thin owner of an SQLite connection and its statements: every failure
// throws, every handle is closed by its destructor.

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorlan::station::sql {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The database cannot serve now, through no fault of the request: locked by
// another process past the wait, read-only, full, corrupt, or gone. what()
// says so in plain words; Cause() keeps SQLite's own message for the log.
class Unavailable : public Error {
 public:
  enum class Reason : std::uint8_t { Locked, ReadOnly, Full, Corrupt, InputOutput };
  Unavailable(Reason reason, std::string cause);
  Reason Why() const { return reason_; }
  const std::string& Cause() const { return cause_; }

 private:
  Reason reason_;
  std::string cause_;
};

// How long a statement waits for another connection's lock before it fails.
inline constexpr std::chrono::seconds kLockWait{5};

class Database;

class Statement {
 public:
  // A statement of owner's tells it when the disk refuses a write.
  Statement(sqlite3* db, std::string_view sql, Database* owner = nullptr);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1, as in SQL.
  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, const std::string& value);
  Statement& Bind(int index, std::nullptr_t);
  template <typename T>
  Statement& Bind(int index, const std::optional<T>& value) {
    return value ? Bind(index, *value) : Bind(index, nullptr);
  }

  // True while a row is there.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();

  // Columns count from 0.
  bool IsNull(int column) const;
  std::int64_t Integer(int column) const;
  std::string Text(int column) const;
  std::optional<std::int64_t> OptionalInteger(int column) const;
  std::optional<std::string> OptionalText(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
  Database* owner_;
};

class Database {
 public:
  explicit Database(const std::string& path);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Execute(std::string_view sql);
  Statement Prepare(std::string_view sql) { return Statement(db_, sql, this); }
  std::int64_t LastInsertId() const;
  int Changes() const;
  // False when SQLite opened the file read-only (its permissions refuse us).
  bool Writable() const;
  // How many times a statement found another connection's lock and waited.
  std::uint64_t LockWaits() const { return lockWaits_.load(); }
  // True from a write the disk refused (full, I/O error) until a commit
  // succeeds: the journal cannot keep a sale meanwhile.
  bool Failing() const { return failing_.load(); }

 private:
  friend class Statement;
  friend class Transaction;
  void Note(int result, bool wrote);

  static int WaitForLock(void* self, int attempt);

  sqlite3* db_ = nullptr;
  std::atomic<std::uint64_t> lockWaits_{0};
  std::atomic<bool> failing_{false};
  std::chrono::steady_clock::time_point waitStarted_;
};

// BEGIN IMMEDIATE; rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace quorlan::station::sql
