// SPDX-License-Identifier: Apache-2.0
#pragma once
// The events a reconnecting client may ask for again, each stored in the
// transaction of the change it announces, and the ids reserved ahead so a
// restart never hands one out twice.

#include <cstdint>
#include <vector>

#include "station/journal/Database.h"
#include "station/model/Records.h"

namespace quorlan::station {

class EventJournal {
 public:
  explicit EventJournal(Database& database);

  // Inside the caller's transaction, under the write lock.
  static void Insert(sql::Database& db, const StoredEvent& event);

  // Events with after < id <= upTo, oldest first; at most `limit` of them
  // (a negative limit: all).
  std::vector<StoredEvent> After(std::int64_t after, std::int64_t upTo, int limit = -1);
  // The highest event id ever handed out or reserved.
  std::int64_t IdFloor();
  void Reserve(std::int64_t upTo);

 private:
  static void WriteReservation(sql::Database& db, std::int64_t upTo);

  Database& database_;
  std::int64_t reserved_ = 0;  // under the write lock
};

}  // namespace quorlan::station
