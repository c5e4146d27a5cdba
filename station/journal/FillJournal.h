// SPDX-License-Identifier: Apache-2.0
#pragma once
// The fill journal: a row per fill from before its authorization goes out
// to its end, each change handed to the change feed in its transaction, and
// the queries clients and the line ask of it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/journal/Database.h"
#include "station/journal/SettlementJournal.h"
#include "station/model/FillQuery.h"
#include "station/model/Records.h"

namespace quorlan::station {

class FillJournal {
 public:
  // A fill that ends completed joins the unpaid ones `settlement` counts.
  FillJournal(Database& database, SettlementJournal& settlement);

  // A new pending or open row, with the nozzles' totals before it (by
  // nozzle); returns its id.
  std::int64_t Insert(const FillRecord& fill,
                      const std::map<int, NozzleCounters>& totalsBefore = {});
  // The totals an unfinished row was inserted with.
  std::map<int, NozzleCounters> TotalsBefore(std::int64_t id);
  void Acknowledge(std::int64_t id, const std::string& authorizedAt);
  // The open row's nozzle, grade, price and whether fuel flowed, as soon as
  // the dispenser reports them.
  void UpdateOpen(const FillRecord& fill);
  void Delete(std::int64_t id);  // a pending row whose authorization did not go out
  // Ends an open or pending row, completed with its readout or cancelled
  // (fill.status), together with its event; false (and nothing written)
  // when the row ended already.
  bool End(const FillRecord& fill, const StoredEvent& event);

  // The pending and open rows of a line.
  std::vector<FillRecord> OpenOn(int channel);
  std::vector<FillRecord> Completed(std::int64_t after, int limit);
  std::optional<FillRecord> Shown(std::int64_t id);  // any but a pending one
  // The row an idempotent request authorized, pending ones too.
  std::optional<FillRecord> OfRequest(const std::string& request);
  // The fills a query selects, oldest first.
  std::vector<FillRecord> Find(const FillQuery& query);

 private:
  // Every column of the row; with its id when `withId` (a row the database
  // lost, written again).
  static void InsertWhole(sql::Database& db, const FillRecord& fill, bool withId);
  std::vector<FillRecord> Select(const std::string& where, std::int64_t a, std::int64_t b);

  Database& database_;
  SettlementJournal& settlement_;
  std::int64_t highest_ = 0;  // under the write lock
};

}  // namespace quorlan::station
