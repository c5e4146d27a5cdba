#pragma once
// The station's database: the price book, the fill journal and the events
// a reconnecting client may ask for again. Every write is one transaction,
// committed (WAL, synchronous=FULL) before the caller acknowledges or
// publishes it. Safe to share between threads.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/base/Money.h"
#include "station/journal/ChangeFeed.h"
#include "station/journal/Idempotency.h"
#include "station/journal/Sqlite.h"
#include "station/model/FillQuery.h"
#include "station/model/Records.h"
#include "station/model/ShiftReport.h"

namespace quorlan::station {

class Store : public IdempotencyStorage {
 public:
  // Opens or creates the database and brings its schema up to date; throws
  // sql::Error, also for a database of a newer release, and
  // sql::Unavailable for one that cannot be written or fails SQLite's quick
  // check: a journal that would fail its first fill is refused at the start.
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

  // How many times a write found another process's lock and waited for it.
  std::uint64_t LockWaits();

  // From now on every fill change and closed shift also goes to `feed`, in
  // the transaction that stores it; nullptr: to none. The feed outlives its
  // use here.
  void SetFeed(ChangeFeed* feed);
  // A change of a part of the station that keeps no table of the journal's
  // own (head office's commands, alarms), in one of the journal's
  // transactions: committed when `change` returns, rolled back when it throws.
  void Write(const std::function<void(sql::Database& db)>& change);

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

  // The fills a query selects, oldest first.
  std::vector<FillRecord> FindFills(const FillQuery& query);
  // A fill in any stage, for settlement to judge.
  std::optional<FillRecord> SettleableFill(std::int64_t id);
  static SaleStage Stage(const FillRecord& fill);
  // Writes the fill's settlement with its event, in one transaction.
  void WriteSettlement(const FillRecord& fill, const StoredEvent& event);
  // The completed unpaid fills of a dispenser, oldest first.
  std::vector<std::int64_t> UnpaidFills(int channel, int dispenser);
  // How many there are, from memory: cheap enough for every view.
  int Unpaid(int channel, int dispenser);
  // Fills whose lock ran out at or before `now` and is still written.
  std::vector<FillRecord> LapsedLocks(const std::string& now);
  // Completed unpaid fills that ended before `finishedBefore`, ids above `after`.
  std::vector<FillRecord> UnpaidBefore(const std::string& finishedBefore, std::int64_t after);

  // Idempotent answers (IdempotencyStorage).
  std::optional<IdempotencyRecord> Find(const IdempotencyScope& scope, Instant since) override;
  void Save(const IdempotencyScope& scope, const IdempotencyRecord& record,
            Instant forgetBefore) override;
  void Forget(const IdempotencyScope& scope) override;

  // The open shift, opened now (at `openedAt`) when there is none yet.
  struct OpenShift {
    std::int64_t id = 0;
    std::string openedAt;
    std::vector<NozzleReading> opening;  // `open` set where read
    bool first = false;                  // opened by this call
  };
  OpenShift CurrentShift(const std::string& openedAt);
  // Opening totals of a shift, where none is stored yet.
  void SetOpeningTotals(std::int64_t shift, const std::vector<NozzleReading>& readings);
  struct ShiftClosing {
    std::int64_t shift = 0;
    std::string closedAt;
    std::string closedBy;
    std::vector<NozzleReading> readings;  // `close` set where the nozzle answered
  };
  // Closes the shift in one transaction: the fills ended by now join it,
  // `makeReport` turns them (with the opening totals and the station's
  // unpaid fills) into the report's JSON, which is stored with the event
  // (its data set here) and the next shift, opened with the closing totals.
  using MakeReport = std::function<std::string(const ShiftInput& input)>;
  std::string CloseShift(const ShiftClosing& closing, const MakeReport& makeReport,
                         StoredEvent& event);
  // Closed shifts' reports (JSON), oldest first.
  std::vector<std::string> ClosedShifts(std::int64_t after, int limit);
  std::optional<std::string> ClosedShift(std::int64_t id);

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
  void CheckUsable();
  void CountUnpaid();
  void RecountUnpaidLocked(int channel, int dispenser);
  void InsertEvent(const StoredEvent& event);
  void InsertWhole(const FillRecord& fill, bool withId);
  // Hands the row as it now stands to the feed; under mutex_, in the
  // transaction that changed it.
  void FeedFill(std::int64_t id);
  std::vector<FillRecord> QueryFills(const std::string& where, std::int64_t a, std::int64_t b);

  // Writes go through db_, replaced when the database is opened anew;
  // reads through reader_, which WAL lets read while a write (ours or
  // another process's) waits for a lock. mutex_ before readMutex_.
  std::mutex mutex_;
  const std::string path_;
  std::unique_ptr<sql::Database> db_;
  // The file open, to tell it from one that took its place.
  dev_t device_ = 0;
  ino_t inode_ = 0;
  // problem_ and db_ are written under both, read under either.
  std::mutex problemMutex_;
  std::string problem_;
  std::uint64_t earlierLockWaits_ = 0;  // of the databases opened before
  bool reopened_ = false;
  ChangeFeed* feed_ = nullptr;  // under mutex_
  std::int64_t highestFill_ = 0;
  std::int64_t reservedEvents_ = 0;
  std::mutex readMutex_;
  std::unique_ptr<sql::Database> reader_;
  std::mutex unpaidMutex_;  // after mutex_ when both are held
  std::map<std::pair<int, int>, int> unpaid_;
};

}  // namespace quorlan::station
