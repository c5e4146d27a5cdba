// SPDX-License-Identifier: Apache-2.0
#pragma once
// The journal's database: one connection that writes and one that reads,
// the schema brought up to date, and a file that went opened anew in its
// folder. Every write is one transaction, committed (WAL, synchronous=FULL)
// before the caller acknowledges or publishes it. The journals of the
// store write and read through it; safe to share between threads.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "station/journal/ChangeFeed.h"
#include "station/sql/Sqlite.h"

namespace quorlan::station {

class Database {
 public:
  explicit Database(std::string path);

  // Opens or creates the database and brings its schema up to date; throws
  // sql::Error, also for a database of a newer release, and
  // sql::Unavailable for one that cannot be written or fails SQLite's quick
  // check: a journal that would fail its first fill is refused at the start.
  // Each step given to AtOpen runs on the writer then, and at every opening
  // anew.
  void Open();
  void AtOpen(std::function<void(sql::Database& db)> step);

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

  // For the journals. `work` runs on the writer under the write lock; with
  // Writing only while the database can be written (else sql::Unavailable).
  template <typename Work>
  decltype(auto) Writing(Work&& work) {
    std::lock_guard lock(mutex_);
    RequireWritable();
    return work(*db_);
  }
  template <typename Work>
  decltype(auto) Locked(Work&& work) {
    std::lock_guard lock(mutex_);
    return work(*db_);
  }
  // `work` runs on the reader, which WAL lets read while a write (ours or
  // another process's) waits for a lock.
  template <typename Work>
  decltype(auto) Reading(Work&& work) {
    std::lock_guard lock(readMutex_);
    return work(*reader_);
  }
  // Under the write lock: the feed, and whether nothing keeps writes out.
  ChangeFeed* Feed() const { return feed_; }
  bool Usable() const { return problem_.empty(); }
  // Commits, counting how long the disk took: every sale's figure of its pace.
  static void Commit(sql::Transaction& transaction);

 private:
  void RequireWritable() const;
  void Migrate();
  void CheckUsable();

  // Writes go through db_, replaced when the database is opened anew; reads
  // through reader_. mutex_ before readMutex_.
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
  std::vector<std::function<void(sql::Database& db)>> atOpen_;
  std::mutex readMutex_;
  std::unique_ptr<sql::Database> reader_;
};

}  // namespace quorlan::station
