// SPDX-License-Identifier: Apache-2.0
#include "StationSql.h"

namespace quorlan::fleet {

namespace {

class StatementRow : public SqlRow {
 public:
  explicit StatementRow(const station::sql::Statement& statement) : statement_(statement) {}
  bool IsNull(int column) const override { return statement_.IsNull(column); }
  std::int64_t Integer(int column) const override { return statement_.Integer(column); }
  std::string Text(int column) const override { return statement_.Text(column); }

 private:
  const station::sql::Statement& statement_;
};

}  // namespace

void StationSql::Execute(std::string_view statements) {
  database_.Execute(statements);
}

void StationSql::Query(std::string_view statement, const std::vector<SqlValue>& parameters,
                       const std::function<void(const SqlRow&)>& row) {
  auto prepared = database_.Prepare(statement);
  int index = 1;
  for (const auto& parameter : parameters) {
    std::visit([&](const auto& value) { prepared.Bind(index, value); }, parameter);
    ++index;
  }
  const StatementRow current(prepared);
  while (prepared.Step()) row(current);
}

}  // namespace quorlan::fleet
