// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where the journal hands on each change it stores: inside the transaction
// that stores the change and on the same connection, so whatever the feed
// writes commits with the change or not at all. Head office's outbox is one.

#include <cstdint>
#include <string>

#include "station/model/Records.h"
#include "station/sql/Sqlite.h"

namespace quorlan::station {

class ChangeFeed {
 public:
  virtual ~ChangeFeed() = default;
  // On every connection the journal writes with, before its first change
  // there (its tables, when missing).
  virtual void Prepare(sql::Database& db) = 0;
  // The fill as the change left it; never a pending one, which may still go.
  virtual void Fill(sql::Database& db, const FillRecord& fill) = 0;
  // A closed shift's report (JSON).
  virtual void Shift(sql::Database& db, std::int64_t shift, const std::string& report) = 0;
};

}  // namespace quorlan::station
