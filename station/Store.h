#pragma once
// The station's database: the price book, the fill journal and the events
// a reconnecting client may ask for again. Every write is one transaction,
// committed (WAL, synchronous=FULL) before the caller acknowledges or
// publishes it. Safe to share between threads.

#include <sys/types.h>

#include <cstdint>
#include <memory>
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

  // Whether the file at the path is still the database open here, and
  // writable: empty when it is, else why not. While it is not, every write
  // throws sql::Error. A database whose file went while its folder is there
  // (again) is opened there anew, and the journal goes on in it.
  std::string Check();
  // What the last Check found.
  std::string Problem();
  // Whether a Check opened the database anew since the last call.
  bool TakeReopened();

  std::vector<PriceEntry> Prices();
  std::vector<PriceEntry> PricesOf(int channel, int dispenser);
  // Stores the entries and their event in one transaction.
  void SavePrices(const std::vector<PriceEntry>& entries, const StoredEvent& event);

  // A new pending or open row; returns its id.
  std::int64_t InsertFill(const FillRecord& fill);
  void AcknowledgeFill(std::int64_t id, const std::string& authorizedAt);
  // The open row's nozzle, grade, price and whether fuel flowed, as soon as
  // the dispenser reports them.
  void UpdateOpenFill(const FillRecord& fill);
  void DeleteFill(std::int64_t id);  // a pending row whose authorization did not go out
  // Ends an open or pending row, completed with its readout or cancelled
  // (fill.status), together with its event; false (and nothing written)
  // when the row ended already.
  bool EndFill(const FillRecord& fill, const StoredEvent& event);
  // The pending and open rows of a line.
  std::vector<FillRecord> OpenFills(int channel);
  std::vector<FillRecord> CompletedFills(std::int64_t after, int limit);
  std::optional<FillRecord> Fill(std::int64_t id);  // any but a pending one

  // Events with after < id <= upTo, oldest first; at most `limit` of them
  // (a negative limit: all).
  std::vector<StoredEvent> EventsAfter(std::int64_t after, std::int64_t upTo, int limit = -1);
  // The highest event id ever handed out or reserved.
  std::int64_t EventIdFloor();
  void ReserveEventIds(std::int64_t upTo);

 private:
  void Open();
  void Migrate();
  void RequireWritable() const;
  void WriteReservation(std::int64_t upTo);
  void InsertEvent(const StoredEvent& event);
  void InsertWhole(const FillRecord& fill, bool withId);
  std::vector<FillRecord> QueryFills(const std::string& where, std::int64_t a, std::int64_t b);

  std::mutex mutex_;
  const std::string path_;
  std::unique_ptr<sql::Database> db_;
  // The file open, to tell it from one that took its place.
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::mutex problemMutex_;  // problem_ is written under both, read under either
  std::string problem_;
  bool reopened_ = false;
  std::int64_t highestFill_ = 0;
  std::int64_t reservedEvents_ = 0;
};

}  // namespace quorlan::station
