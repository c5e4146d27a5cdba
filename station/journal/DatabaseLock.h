// SPDX-License-Identifier: Apache-2.0
#pragma once
// One service per database: an exclusive lock on the database file, taken
// before anything is written to it and held for the service's whole life.

#include <string>

namespace quorlan::station {

class DatabaseLock {
 public:
  // Opens (creating) and locks the database file; throws ConfigError
  // (exit 2) with "database in use" when another service holds it.
  explicit DatabaseLock(const std::string& path);
  // Releases the lock; a database this lock created is removed again unless
  // the start went through (Keep), so a failed start leaves nothing behind.
  ~DatabaseLock();
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

  // The service started: the database stays whatever happens next.
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
  bool keep_ = false;
};

}  // namespace quorlan::station
