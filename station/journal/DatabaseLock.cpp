// SPDX-License-Identifier: Apache-2.0
#include "station/journal/DatabaseLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "station/config/Config.h"

namespace quorlan::station {

namespace {

// SQLite's own names beside the database.
constexpr const char* kCompanions[] = {"-wal", "-shm", "-journal"};

// A flock, not SQLite's POSIX record locks: the two never meet, and closing
// this descriptor (only after the database is closed) drops none of
// SQLite's.
bool LockExclusive(int fd) {
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Whether the locked descriptor is still the file the path names: a failed
// start removes the file it created, and whoever opened it just before must
// not hold a lock on a file no longer there.
bool StillNamed(int fd, const std::string& path) {
  struct stat held {
  }, named{};
  return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_nlink > 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

DatabaseLock::DatabaseLock(const std::string& path) : path_(path) {
  // SQLite's in-memory database is no file: nothing to share.
  if (path.empty() || path == ":memory:") return;
  constexpr int kAttempts = 10;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    bool created = false;
    if (fd < 0 && errno == ENOENT) {
      fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;  // another start made it first
    }
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
      // A flock needs no write access: the journal's own check then tells
      // that the database cannot be written.
      fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    if (fd < 0) {
      throw ConfigError(kExitConfig, path + ": cannot open the database: " + std::strerror(errno));
    }
    if (!LockExclusive(fd)) {
      const int error = errno;
      close(fd);
      if (error == EWOULDBLOCK) {
        throw ConfigError(kExitConfig, path + ": database in use by another service");
      }
      throw ConfigError(kExitConfig, path + ": cannot lock the database: " + std::strerror(error));
    }
    if (StillNamed(fd, path)) {
      fd_ = fd;
      created_ = created;
      return;
    }
    close(fd);
  }
  throw ConfigError(kExitConfig, path + ": the database keeps being replaced");
}

DatabaseLock::~DatabaseLock() {
  if (fd_ < 0) return;
  // Removed while still locked, so that no other start can take it between.
  if (created_ && !keep_) {
    unlink(path_.c_str());
    for (const char* companion : kCompanions) unlink((path_ + companion).c_str());
  }
  close(fd_);
}

}  // namespace quorlan::station
