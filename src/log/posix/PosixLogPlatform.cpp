// File and clock services of the logger on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "log/LogPlatform.h"

namespace quorlan {

namespace {

class PosixLogPlatform final : public LogPlatform {
 public:
  std::string ExecutablePath() override {
    char path[PATH_MAX];
    const auto length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
  }

  LocalTime Now() override {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    const time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_usec / 1000)};
  }

  std::optional<std::uint64_t> FileSize(const std::string& path) override {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
  }

  bool Exists(const std::string& path) override { return access(path.c_str(), F_OK) == 0; }
  void Delete(const std::string& path) override { unlink(path.c_str()); }
  void Rename(const std::string& from, const std::string& to) override {
    rename(from.c_str(), to.c_str());
  }

  FileHandle OpenAppend(const std::string& path) override {
    return Open(path, O_WRONLY | O_APPEND);
  }
  FileHandle OpenNew(const std::string& path) override {
    return Open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND);
  }

  bool Write(FileHandle file, std::string_view bytes) override {
    while (!bytes.empty()) {
      const auto written = write(static_cast<int>(file), bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  void Close(FileHandle file) override { close(static_cast<int>(file)); }

 private:
  static FileHandle Open(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    return fd < 0 ? kNoFile : fd;
  }
};

}  // namespace

LogPlatform& SystemLogPlatform() {
  static PosixLogPlatform platform;
  return platform;
}

}  // namespace quorlan
