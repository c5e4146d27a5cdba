#pragma once
// A thin owner of an SQLite connection and its statements: every failure
// throws, every handle is closed by its destructor.

#include <sqlite3.h>

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

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
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
};

class Database {
 public:
  explicit Database(const std::string& path);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Execute(std::string_view sql);
  Statement Prepare(std::string_view sql) { return Statement(db_, sql); }
  std::int64_t LastInsertId() const;
  int Changes() const;

 private:
  sqlite3* db_ = nullptr;
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
