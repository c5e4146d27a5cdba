// SPDX-License-Identifier: Apache-2.0
#include "station/journal/PriceBook.h"

#include "station/journal/EventJournal.h"

namespace quorlan::station {

std::vector<PriceEntry> PriceBook::All() {
  return database_.Reading([](sql::Database& reader) {
    auto query = reader.Prepare(
        "SELECT channel, dispenser, grade, price FROM prices ORDER BY channel, dispenser, grade");
    std::vector<PriceEntry> entries;
    while (query.Step()) {
      entries.push_back({static_cast<int>(query.Integer(0)), static_cast<int>(query.Integer(1)),
                         static_cast<int>(query.Integer(2)), query.Integer(3)});
    }
    return entries;
  });
}

std::vector<PriceEntry> PriceBook::Of(int channel, int dispenser) {
  std::vector<PriceEntry> entries;
  for (const auto& entry : All()) {
    if (entry.channel == channel && entry.dispenser == dispenser) entries.push_back(entry);
  }
  return entries;
}

void PriceBook::Save(const std::vector<PriceEntry>& entries, const StoredEvent& event) {
  database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    for (const auto& entry : entries) {
      db.Prepare(
            "INSERT INTO prices(channel, dispenser, grade, price) VALUES(?, ?, ?, ?) "
            "ON CONFLICT(channel, dispenser, grade) DO UPDATE SET price = excluded.price")
          .Bind(1, entry.channel)
          .Bind(2, entry.dispenser)
          .Bind(3, entry.grade)
          .Bind(4, entry.price)
          .Run();
    }
    EventJournal::Insert(db, event);
    Database::Commit(transaction);
  });
}

}  // namespace quorlan::station
