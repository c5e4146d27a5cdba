#pragma once
// Time-stamped trace lines ("hh:mm:ss.zzz text", CR LF) in a file next to the
// host executable, rotated by size into ten numbered files.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "log/LogPlatform.h"

namespace quorlan {

inline constexpr std::int32_t kMaxLogSize = 3000 * 1024;
inline constexpr std::uint8_t kTraceLevel = 1;

class Logger {
 public:
  explicit Logger(LogPlatform& platform, std::int32_t maxLogSize = kMaxLogSize);

  // Names the log file after the executable: extension replaced by ".log".
  void StartLogger();
  // Places the log elsewhere (tests, tools); an empty name turns logging off.
  void SetFileName(std::string name);
  void Log(std::uint8_t level, std::string_view text);

  std::string FileName() const;
  bool FirstWrite() const;

  // "hh:mm:ss.zzz text", without the line end.
  static std::string FormatLine(const LocalTime& time, std::string_view text);
  // The executable path with its extension replaced by ".log".
  static std::string LogNameFor(std::string_view executablePath);

 private:
  void WriteLine(const std::string& line);
  void RotateLog();
  void AppendLine(const LogPlatform::LockedFile& file, const std::string& line);

  LogPlatform& platform_;
  const std::int32_t maxLogSize_;
  // Serializes this process's callers; the file's lock serializes processes.
  mutable std::mutex mutex_;
  std::string fileName_;
  // Lets a logger without a file skip the clock and the formatting.
  std::atomic<bool> hasFile_{false};
  bool firstWrite_ = true;
};

// The module-wide logger the driver writes to.
Logger& DefaultLogger();
void StartLogger();
void Log(std::uint8_t level, std::string_view text);

}  // namespace quorlan
