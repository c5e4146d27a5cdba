// SPDX-License-Identifier: Apache-2.0
#pragma once
// The fleet's Sql over the station's own connection wrapper.

#include "Sql.h"
#include "station/sql/Sqlite.h"

namespace quorlan::fleet {

class StationSql : public Sql {
 public:
  explicit StationSql(station::sql::Database& database) : database_(database) {}
  void Execute(std::string_view statements) override;
  void Query(std::string_view statement, const std::vector<SqlValue>& parameters,
             const std::function<void(const SqlRow&)>& row) override;

 private:
  station::sql::Database& database_;
};

}  // namespace quorlan::fleet
