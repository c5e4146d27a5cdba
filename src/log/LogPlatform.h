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
};

class LogPlatform {
 public:
  using FileHandle = std::intptr_t;
  static constexpr FileHandle kNoFile = -1;

  virtual ~LogPlatform() = default;

  // Full path of the running executable (the host process).
  virtual std::string ExecutablePath() = 0;
  virtual LocalTime Now() = 0;
  // Size of the directory entry at `path`, if there is one.
  virtual std::optional<std::uint64_t> FileSize(const std::string& path) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual void Delete(const std::string& path) = 0;
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Opens for appending at the end; fails when the file does not exist.
  virtual FileHandle OpenAppend(const std::string& path) = 0;
  // Creates the file, or empties an existing one.
  virtual FileHandle OpenNew(const std::string& path) = 0;
  virtual bool Write(FileHandle file, std::string_view bytes) = 0;
  virtual void Close(FileHandle file) = 0;
};

// The platform of this build (POSIX or Win32); lives for the whole process.
LogPlatform& SystemLogPlatform();

}  // namespace quorlan
