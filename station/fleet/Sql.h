// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the fleet needs of the station's SQLite connection, and no more: the
// outbox is written on the caller's connection inside the caller's
// transaction, so a change and its message commit together or not at all.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorlan::fleet {

using SqlValue = std::variant<std::nullptr_t, std::int64_t, std::string>;

// One result row; columns count from 0.
class SqlRow {
 public:
  virtual ~SqlRow() = default;
  virtual bool IsNull(int column) const = 0;
  virtual std::int64_t Integer(int column) const = 0;
  virtual std::string Text(int column) const = 0;
};

class Sql {
 public:
  virtual ~Sql() = default;
  // Statements without parameters or rows (a schema, BEGIN, COMMIT).
  virtual void Execute(std::string_view statements) = 0;
  // One statement; parameters count from 1, as in SQL. Every row is handed
  // to `row` while the statement runs.
  virtual void Query(std::string_view statement, const std::vector<SqlValue>& parameters,
                     const std::function<void(const SqlRow&)>& row) = 0;
  void Run(std::string_view statement, const std::vector<SqlValue>& parameters) {
    Query(statement, parameters, [](const SqlRow&) {});
  }
};

// BEGIN IMMEDIATE on a connection of our own; rolled back unless committed.
class SqlTransaction {
 public:
  explicit SqlTransaction(Sql& sql) : sql_(sql) { sql_.Execute("BEGIN IMMEDIATE"); }
  ~SqlTransaction() {
    if (done_) return;
    try {
      sql_.Execute("ROLLBACK");
    } catch (...) {
      // A failed connection has rolled back by itself.
    }
  }
  SqlTransaction(const SqlTransaction&) = delete;
  SqlTransaction& operator=(const SqlTransaction&) = delete;
  void Commit() {
    sql_.Execute("COMMIT");
    done_ = true;
  }

 private:
  Sql& sql_;
  bool done_ = false;
};

}  // namespace quorlan::fleet
