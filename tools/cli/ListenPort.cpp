// SPDX-License-Identifier: Apache-2.0
#include "ListenPort.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "Arguments.h"
#include "ExitCodes.h"

namespace quorlan::cli {

namespace {

constexpr std::array<std::pair<int, speed_t>, 8> kSpeeds{{{1200, B1200},
                                                          {2400, B2400},
                                                          {4800, B4800},
                                                          {9600, B9600},
                                                          {19200, B19200},
                                                          {38400, B38400},
                                                          {57600, B57600},
                                                          {115200, B115200}}};

speed_t Speed(int baud) {
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) return speed;
  }
  throw UsageError(fmt::format("--baud {}: not a serial speed (1200..115200)", baud));
}

}  // namespace

ListenPort::ListenPort(const std::string& path, int baud) : path_(path) {
  const speed_t speed = Speed(baud);
  fd_ = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    throw LineSetupError(fmt::format("cannot open {}: {}", Shown(path), std::strerror(errno)));
  }
  termios mode{};
  if (::tcgetattr(fd_, &mode) != 0) {
    const int error = errno;
    ::close(fd_);
    throw LineSetupError(
        fmt::format("{} is not a serial line: {}", Shown(path), std::strerror(error)));
  }
  ::cfmakeraw(&mode);
  mode.c_cflag |= CLOCAL | CREAD;
  mode.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | PARENB | CSTOPB);
  ::cfsetispeed(&mode, speed);
  ::cfsetospeed(&mode, speed);
  if (::tcsetattr(fd_, TCSANOW, &mode) != 0) {
    const int error = errno;
    ::close(fd_);
    throw LineSetupError(fmt::format("cannot set up {}: {}", Shown(path), std::strerror(error)));
  }
}

ListenPort::~ListenPort() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace quorlan::cli
