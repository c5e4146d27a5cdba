#pragma once
// The file and clock services the logger needs, one small interface so the
// core stays free of OS headers. POSIX and Win32 each implement it once.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorlan {

struct LocalTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  // The date, the zone and the instant matter only to the stamped format
  // (POSIX); the host's format uses the time of day alone.
  int year = 0;
  int month = 0;
  int day = 0;
  int utcOffsetMinutes = 0;
  std::int64_t epochMilliseconds = 0;
};

class LogPlatform {
 public:
  using FileHandle = std::intptr_t;
  static constexpr FileHandle kNoFile = -1;

  // A log file opened for appending, under the lock every process logging
  // to it takes.
  struct LockedFile {
    FileHandle handle = kNoFile;
    std::uint64_t size = 0;  // taken under the lock: where the next line goes
    bool linked = true;      // false once the file was deleted
  };

  virtual ~LogPlatform() = default;

  // Full path of the running executable (the host process).
  virtual std::string ExecutablePath() = 0;
  virtual LocalTime Now() = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual void Delete(const std::string& path) = 0;
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Opens `path` for appending, creating it when missing and never emptying
  // it, then waits for the lock that serializes every process (and thread)
  // logging to it. Nothing when it cannot be opened or is not a regular
  // file; only the lock is ever waited for (a FIFO or a device never blocks).
  virtual std::optional<LockedFile> OpenLocked(const std::string& path) = 0;
  // Whether `path` still names the open file: false once another process
  // has rotated it away.
  virtual bool StillNamed(const LockedFile& file, const std::string& path) = 0;
  // Adds all of `bytes` at the file's end, or none of them: a failed write
  // cuts the file back to `file.size`.
  virtual bool Append(const LockedFile& file, std::string_view bytes) = 0;
  // Closes the file, which releases the lock.
  virtual void Close(const LockedFile& file) = 0;
};

// The platform of this build (POSIX or Win32); lives for the whole process.
LogPlatform& SystemLogPlatform();

}  // namespace quorlan
