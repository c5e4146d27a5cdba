#include "log/Logger.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/Win1251.h"

namespace quorlan {

namespace {
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kStampedLineEnd = "\n";
constexpr int kRotatedFiles = 10;
}  // namespace

Logger::Logger(LogPlatform& platform, std::int32_t maxLogSize, LogFormat format)
    : platform_(platform), maxLogSize_(maxLogSize), format_(format) {}

Logger::~Logger() {
  // The counts still held back are written rather than lost.
  Reopen();
}

void Logger::SetThreshold(std::uint8_t level) {
  threshold_ = level;
}

void Logger::Reopen() {
  std::lock_guard lock(mutex_);
  if (fileName_.empty() || repeats_.empty()) return;
  try {
    WriteDueSummaries(platform_.Now(), true);
  } catch (...) {
    // A log failure never reaches the caller.
  }
}

void Logger::StartLogger() {
  SetFileName(LogNameFor(platform_.ExecutablePath()));
}

void Logger::SetFileName(std::string name) {
  std::lock_guard lock(mutex_);
  fileName_ = std::move(name);
  hasFile_ = !fileName_.empty();
}

std::string Logger::FileName() const {
  std::lock_guard lock(mutex_);
  return fileName_;
}

bool Logger::FirstWrite() const {
  std::lock_guard lock(mutex_);
  return firstWrite_;
}

std::string Logger::FormatLine(const LocalTime& time, std::string_view text) {
  const auto digits = [](char* at, int value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
  };
  std::string line(13 + text.size(), ' ');
  digits(&line[0], time.hour, 2);
  line[2] = ':';
  digits(&line[3], time.minute, 2);
  line[5] = ':';
  digits(&line[6], time.second, 2);
  line[8] = '.';
  digits(&line[9], time.millisecond, 3);
  text.copy(&line[13], text.size());
  return line;
}

std::string Logger::FormatStampedLine(const LocalTime& time, std::string_view text) {
  char stamp[64];
  const int offset = std::abs(time.utcOffsetMinutes);
  const int length =
      std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year,
                    time.month, time.day, time.hour, time.minute, time.second, time.millisecond);
  std::string line(stamp, static_cast<std::size_t>(std::max(length, 0)));
  if (time.utcOffsetMinutes == 0) {
    line += 'Z';
  } else {
    std::snprintf(stamp, sizeof stamp, "%c%02d:%02d", time.utcOffsetMinutes < 0 ? '-' : '+',
                  offset / 60, offset % 60);
    line += stamp;
  }
  line += ' ';
  // The driver's own words are Windows-1251; a line end or other control
  // byte inside a text must not start a line of its own.
  for (char ch : Win1251ToUtf8(text)) {
    line += static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F ? ' ' : ch;
  }
  return line;
}

std::string Logger::LogNameFor(std::string_view executablePath) {
  const auto delimiter = executablePath.find_last_of("/\\:");
  const auto dot = executablePath.rfind('.');
  const bool hasExtension =
      dot != std::string_view::npos && (delimiter == std::string_view::npos || dot > delimiter);
  std::string name(hasExtension ? executablePath.substr(0, dot) : executablePath);
  return name + ".log";
}

void Logger::Log(std::uint8_t level, std::string_view text) {
  if (!hasFile_ || level < threshold_) return;
  const LocalTime time = platform_.Now();
  std::lock_guard lock(mutex_);
  if (fileName_.empty()) return;
  try {
    if (format_ == LogFormat::Stamped) {
      WriteDueSummaries(time, false);
      if (level >= kFailureLevel && !AdmitFailure(time, text)) return;
    }
    Emit(time, text);
  } catch (...) {
    // A log failure never reaches the caller.
  }
}

void Logger::Emit(const LocalTime& time, std::string_view text) {
  std::string line;
  if (format_ == LogFormat::Host) {
    line = FormatLine(time, text);
    line.append(kLineEnd);
  } else {
    line = FormatStampedLine(time, text);
    line.append(kStampedLineEnd);
  }
  WriteLine(line);
}

bool Logger::AdmitFailure(const LocalTime& time, std::string_view text) {
  const auto at = repeats_.find(text);
  if (at == repeats_.end()) {
    repeats_.emplace(std::string(text), Repeat{time.epochMilliseconds, 0});
    return true;
  }
  ++at->second.unwritten;
  return false;
}

void Logger::WriteDueSummaries(const LocalTime& time, bool all) {
  // "…" in Windows-1251, the encoding the texts are written in.
  constexpr std::string_view kEllipsis = "\x85";
  for (auto at = repeats_.begin(); at != repeats_.end();) {
    Repeat& repeat = at->second;
    const std::int64_t elapsed = time.epochMilliseconds - repeat.writtenAt;
    // A clock set back counts as the minute over: no count is held forever.
    if (!all && elapsed >= 0 && elapsed < kRepeatSummaryMilliseconds) {
      ++at;
    } else if (repeat.unwritten == 0) {
      // Quiet for a minute: its next occurrence is news again.
      at = repeats_.erase(at);
    } else {
      Emit(time, at->first + " " + std::string(kEllipsis) + " repeated " +
                     std::to_string(repeat.unwritten) +
                     (repeat.unwritten == 1 ? " time" : " times"));
      repeat = {time.epochMilliseconds, 0};
      ++at;
    }
  }
}

// Other processes may log to the same file: each line is appended, and the
// file rotated, only under the file's lock. A file found over the limit is
// rotated only while it still carries the log's name, so one crossing of
// the limit rotates once however many processes notice it; whoever finds
// the file already rotated away opens the new one.
void Logger::WriteLine(const std::string& line) {
  // Each further attempt follows a rotation by another process, so under a
  // crowd of writers with a small limit a line may need many; the bound only
  // guards against a file system that renames the log behind our back forever.
  constexpr int kAttempts = 1000;
  // A file rotation that fails (a rename refused) leaves the file named and
  // over the limit; after a few tries the line goes to it rather than nowhere.
  constexpr int kRotations = 3;
  int rotations = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const auto file = platform_.OpenLocked(fileName_);
    if (!file) return;
    // A file rotated away has always crossed the limit, so only a file over
    // it needs the name checked.
    const bool overLimit = file->size > static_cast<std::uint64_t>(maxLogSize_);
    const bool current = file->linked && (!overLimit || platform_.StillNamed(*file, fileName_));
    // The new file may have crossed the limit again under other writers:
    // that crossing is rotated too.
    if (current && overLimit && rotations < kRotations) {
      RotateLog();
      ++rotations;
    } else if (current) {
      AppendLine(*file, line);
      platform_.Close(*file);
      return;
    }
    platform_.Close(*file);
  }
}

void Logger::RotateLog() {
  const auto rotated = [this](int n) { return fileName_ + "." + std::to_string(n); };
  if (platform_.Exists(rotated(kRotatedFiles - 1))) platform_.Delete(rotated(kRotatedFiles - 1));
  for (int n = kRotatedFiles - 2; n >= 0; --n) {
    if (platform_.Exists(rotated(n))) platform_.Rename(rotated(n), rotated(n + 1));
  }
  platform_.Rename(fileName_, rotated(0));
}

void Logger::AppendLine(const LogPlatform::LockedFile& file, const std::string& line) {
  // The paragraph break and the line go out in one write, so a line is never
  // split from its break by a crash.
  if (firstWrite_ && format_ == LogFormat::Host) {
    std::string withBreak(kLineEnd);
    withBreak += line;
    if (platform_.Append(file, withBreak)) firstWrite_ = false;
  } else if (platform_.Append(file, line)) {
    firstWrite_ = false;
  }
}

Logger& DefaultLogger() {
  static Logger logger(SystemLogPlatform());
  return logger;
}

void StartLogger() {
  DefaultLogger().StartLogger();
}

void Log(std::uint8_t level, std::string_view text) {
  DefaultLogger().Log(level, text);
}

}  // namespace quorlan
