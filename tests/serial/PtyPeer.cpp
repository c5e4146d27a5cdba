#include "PtyPeer.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace quorlan::testing {

PtyPeer::PtyPeer() {
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  termios mode{};
  ::tcgetattr(slave_, &mode);
  ::cfmakeraw(&mode);
  ::tcsetattr(slave_, TCSANOW, &mode);
  path_ = name;
}

PtyPeer::~PtyPeer() {
  Hangup();
  if (slave_ >= 0) ::close(slave_);
}

std::vector<std::uint8_t> PtyPeer::Read(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t got = 0;
  while (got < count && master_ >= 0) {
    const auto n = ::read(master_, bytes.data() + got, count - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void PtyPeer::Write(const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size() && master_ >= 0) {
    const auto n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
}

void PtyPeer::WaitUntilQueued() {
  pollfd readable{slave_, POLLIN, 0};
  ::poll(&readable, 1, -1);
}

void PtyPeer::Hangup() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

}  // namespace quorlan::testing
