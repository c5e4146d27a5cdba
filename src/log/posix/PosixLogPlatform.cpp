// File and clock services of the logger on POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <limits>

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
    const int millisecond = static_cast<int>(now.tv_usec / 1000);
    return {.hour = local.tm_hour,
            .minute = local.tm_min,
            .second = local.tm_sec,
            .millisecond = millisecond,
            .year = local.tm_year + 1900,
            .month = local.tm_mon + 1,
            .day = local.tm_mday,
            .utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60),
            .epochMilliseconds = std::int64_t{now.tv_sec} * 1000 + millisecond};
  }

  bool Exists(const std::string& path) override { return access(path.c_str(), F_OK) == 0; }
  void Delete(const std::string& path) override { unlink(path.c_str()); }
  void Rename(const std::string& from, const std::string& to) override {
    rename(from.c_str(), to.c_str());
  }

  std::optional<LockedFile> OpenLocked(const std::string& path) override {
    // O_NONBLOCK: opening a FIFO without a reader would wait for one.
    const int fd =
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    // Another holder of the lock is only waited for once the file is known
    // to be a regular one: a device may be locked by whoever uses it.
    if (!Lock(fd, LOCK_EX | LOCK_NB) &&
        (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !Lock(fd, LOCK_EX))) {
      close(fd);
      return std::nullopt;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      close(fd);
      return std::nullopt;
    }
    return LockedFile{fd, static_cast<std::uint64_t>(info.st_size), info.st_nlink > 0};
  }

  bool StillNamed(const LockedFile& file, const std::string& path) override {
    struct stat open {
    }, named{};
    return fstat(static_cast<int>(file.handle), &open) == 0 && stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
  }

  bool Append(const LockedFile& file, std::string_view bytes) override {
    // Past the file size limit a write is cut short, and one that starts
    // beyond it raises SIGXFSZ, which ends the process: such a line is
    // refused before it is written.
    if (file.size + bytes.size() > SizeLimit(file.size + bytes.size())) return false;
    const int fd = static_cast<int>(file.handle);
    for (std::string_view left = bytes; !left.empty();) {
      const auto written = write(fd, left.data(), left.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        // A full disk or a lowered limit cut the line: no torn line stays
        // for the next one to be glued to.
        if (left.size() != bytes.size()) (void)!ftruncate(fd, static_cast<off_t>(file.size));
        sizeLimit_ = 0;
        return false;
      }
      left.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  void Close(const LockedFile& file) override { close(static_cast<int>(file.handle)); }

 private:
  static bool Lock(int fd, int operation) {
    while (flock(fd, operation) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  // The process's file size limit, read again when a write needs more than
  // the last reading allowed or a write failed.
  std::uint64_t SizeLimit(std::uint64_t needed) {
    if (needed <= sizeLimit_) return sizeLimit_;
    rlimit limit{};
    const bool known = getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
    sizeLimit_ = known ? static_cast<std::uint64_t>(limit.rlim_cur)
                       : std::numeric_limits<std::uint64_t>::max();
    return sizeLimit_;
  }

  std::atomic<std::uint64_t> sizeLimit_{0};
};

}  // namespace

LogPlatform& SystemLogPlatform() {
  static PosixLogPlatform platform;
  return platform;
}

}  // namespace quorlan
