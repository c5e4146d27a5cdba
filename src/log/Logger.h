#pragma once
// Time-stamped log lines in a file, rotated by size into ten numbered files.
// Two formats, chosen by the logger's owner: the host's (the DLL's:
// "hh:mm:ss.zzz text", CR LF, Windows-1251, a file next to the host
// executable) and the stamped one of the service and the command-line tool
// (UTF-8, LF, an RFC 3339 stamp with date and zone, repeated failures
// summarized).

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "log/LogPlatform.h"

namespace quorlan {

inline constexpr std::int32_t kMaxLogSize = 3000 * 1024;
// Every exchange.
inline constexpr std::uint8_t kTraceLevel = 1;
// Commands, state changes, line events.
inline constexpr std::uint8_t kInfoLevel = 2;
// Failures; in the stamped format the same one repeating is summarized.
inline constexpr std::uint8_t kFailureLevel = 3;

// A failure repeating is written once, then at most once this often as a
// count.
inline constexpr std::int64_t kRepeatSummaryMilliseconds = 60'000;

enum class LogFormat : std::uint8_t {
  Host,     // "hh:mm:ss.zzz text" CR LF, bytes as given, a blank line per load
  Stamped,  // "2026-03-01T14:05:09.042+01:00 text" LF, UTF-8
};

class Logger {
 public:
  explicit Logger(LogPlatform& platform, std::int32_t maxLogSize = kMaxLogSize,
                  LogFormat format = LogFormat::Host);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Names the log file after the executable: extension replaced by ".log".
  void StartLogger();
  // Places the log elsewhere (tests, tools); an empty name turns logging off.
  void SetFileName(std::string name);
  // Lines below `level` are left out; all are written by default.
  void SetThreshold(std::uint8_t level);
  void Log(std::uint8_t level, std::string_view text);
  // For logrotate (SIGHUP): writes the counts of repeated failures still
  // due. Every line opens the file by its name, so the line after a rotation
  // already goes to the new file.
  void Reopen();

  std::string FileName() const;
  bool FirstWrite() const;

  // "hh:mm:ss.zzz text", without the line end.
  static std::string FormatLine(const LocalTime& time, std::string_view text);
  // "YYYY-MM-DDThh:mm:ss.zzz+hh:mm text" (Z for UTC), the text turned from
  // Windows-1251 into UTF-8 and kept on one line; without the line end.
  static std::string FormatStampedLine(const LocalTime& time, std::string_view text);
  // The executable path with its extension replaced by ".log".
  static std::string LogNameFor(std::string_view executablePath);

 private:
  // Formats and writes one line; the mutex is held.
  void Emit(const LocalTime& time, std::string_view text);
  // Whether a failure is written now; counts it when it is not.
  bool AdmitFailure(const LocalTime& time, std::string_view text);
  // Writes the counts whose minute is over (all of them with `all`).
  void WriteDueSummaries(const LocalTime& time, bool all);
  void WriteLine(const std::string& line);
  void RotateLog();
  void AppendLine(const LogPlatform::LockedFile& file, const std::string& line);

  struct Repeat {
    std::int64_t writtenAt = 0;  // epoch milliseconds of its last line
    std::int64_t unwritten = 0;  // occurrences since then
  };

  LogPlatform& platform_;
  const std::int32_t maxLogSize_;
  const LogFormat format_;
  std::atomic<std::uint8_t> threshold_{kTraceLevel};
  // Serializes this process's callers; the file's lock serializes processes.
  mutable std::mutex mutex_;
  std::string fileName_;
  // Lets a logger without a file skip the clock and the formatting.
  std::atomic<bool> hasFile_{false};
  bool firstWrite_ = true;
  // The stamped format's failures seen within the last minute, by text.
  std::map<std::string, Repeat, std::less<>> repeats_;
};

// The module-wide logger the driver writes to.
Logger& DefaultLogger();
void StartLogger();
void Log(std::uint8_t level, std::string_view text);

}  // namespace quorlan
