#pragma once
// The station's database: the price book, the fill journal and the events
// a reconnecting client may ask for again. Every write is one transaction,
// committed (WAL, synchronous=FULL) before the caller acknowledges or
// publishes it. Safe to share between threads.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/Money.h"
#include "station/Records.h"
#include "station/Sqlite.h"

namespace quorlan::station {

class Store {
 public:
  // Opens or creates the database and brings its schema up to date; throws
  // sql::Error, also for a database of a newer release.
  explicit Store(const std::string& path);

  std::vector<PriceEntry> Prices();
  std::vector<PriceEntry> PricesOf(int channel, int dispenser);
  // Stores the entries and their event in one transaction.
  void SavePrices(const std::vector<PriceEntry>& entries, const StoredEvent& event);

  // A new pending or open row; returns its id.
  std::int64_t InsertFill(const FillRecord& fill);
  void AcknowledgeFill(std::int64_t id, const std::string& authorizedAt);
  void DeleteFill(std::int64_t id);  // a pending row whose authorization did not go out
  void CancelFill(std::int64_t id);
  // Completes an open or pending row with its readout, together with its
  // event; false (and nothing written) when the row is not open any more.
  bool CompleteFill(const FillRecord& fill, const StoredEvent& event);
  // The pending and open rows of a line.
  std::vector<FillRecord> OpenFills(int channel);
  std::vector<FillRecord> CompletedFills(std::int64_t after, int limit);
  std::optional<FillRecord> Fill(std::int64_t id);  // open or done

  // Events with after < id <= upTo, oldest first; at most `limit` of them
  // (a negative limit: all).
  std::vector<StoredEvent> EventsAfter(std::int64_t after, std::int64_t upTo, int limit = -1);
  // The highest event id ever handed out or reserved.
  std::int64_t EventIdFloor();
  void ReserveEventIds(std::int64_t upTo);

 private:
  void Migrate();
  void InsertEvent(const StoredEvent& event);
  std::vector<FillRecord> QueryFills(const std::string& where, std::int64_t a, std::int64_t b);

  std::mutex mutex_;
  sql::Database db_;
};

}  // namespace quorlan::station
