// SPDX-License-Identifier: Apache-2.0
#include "WireRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdint>
#include <mutex>
#include <stdexcept>

namespace quorlan::testing {

namespace {

std::string OpenRawPty(int& master, int& slave) {
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  // The processes under test must not hold the line up after a hang-up.
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  termios mode{};
  ::tcgetattr(slave, &mode);
  ::cfmakeraw(&mode);
  ::tcsetattr(slave, TCSANOW, &mode);
  std::array<char, PATH_MAX> name{};
  ::ttyname_r(slave, name.data(), name.size());
  return name.data();
}

void WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0 && fd >= 0) {
    const auto n = ::write(fd, bytes, count);
    if (n <= 0) return;
    bytes += n;
    count -= std::size_t(n);
  }
}

std::mutex wireMutex;

}  // namespace

WireRelay::WireRelay(const std::string& dispenserLine) {
  hostPath_ = OpenRawPty(hostMaster_, hostSlave_);
  wirePath_ = OpenRawPty(wireMaster_, wireSlave_);
  dispenser_ = ::open(dispenserLine.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (dispenser_ < 0) throw std::runtime_error("cannot open " + dispenserLine);
  termios mode{};
  ::tcgetattr(dispenser_, &mode);
  ::cfmakeraw(&mode);
  ::tcsetattr(dispenser_, TCSANOW, &mode);
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  thread_ = std::thread([this] { Relay(); });
}

WireRelay::~WireRelay() {
  stopping_ = true;
  ::write(wakeWrite_, "x", 1);
  thread_.join();
  HangUpWire();
  for (int fd : {hostMaster_, hostSlave_, wireSlave_, dispenser_, wakeRead_, wakeWrite_}) {
    if (fd >= 0) ::close(fd);
  }
}

void WireRelay::HangUpWire() {
  std::lock_guard lock(wireMutex);
  if (wireSlave_ >= 0) ::close(wireSlave_);
  wireSlave_ = -1;
  if (wireMaster_ >= 0) ::close(wireMaster_);
  wireMaster_ = -1;
}

void WireRelay::Relay() {
  std::array<std::uint8_t, 512> buffer{};
  while (!stopping_) {
    std::array<pollfd, 3> waiting{
        {{hostMaster_, POLLIN, 0}, {dispenser_, POLLIN, 0}, {wakeRead_, POLLIN, 0}}};
    if (::poll(waiting.data(), waiting.size(), -1) <= 0) continue;
    for (std::size_t i = 0; i < 2; ++i) {
      if ((waiting[i].revents & POLLIN) == 0) continue;
      const auto n = ::read(waiting[i].fd, buffer.data(), buffer.size());
      if (n <= 0) continue;
      {
        std::lock_guard lock(wireMutex);
        WriteAll(wireMaster_, buffer.data(), std::size_t(n));
      }
      WriteAll(i == 0 ? dispenser_ : hostMaster_, buffer.data(), std::size_t(n));
    }
  }
}

}  // namespace quorlan::testing
