#include "PtyServer.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <system_error>

namespace quorlan::sim {
namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void CloseOnExec(int fd) {
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

void NonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

PtyServer::PtyServer(std::shared_ptr<Line> line, PtyOptions options)
    : PtyServer(std::make_shared<LineResponder>(std::move(line)), options) {}

PtyServer::PtyServer(std::shared_ptr<Responder> responder, PtyOptions options)
    : StreamServer(std::move(responder), options) {
  if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) ThrowErrno("openpty");
  CloseOnExec(master_);
  CloseOnExec(slave_);
  // A client that never reads fills the line; the write then waits in
  // poll, where a stop reaches it, instead of inside write().
  NonBlocking(master_);
  // Frames carry 0x0A, 0x0D, 0x11 and 0x13 as data: no translation, no echo.
  termios settings{};
  ::tcgetattr(slave_, &settings);
  ::cfmakeraw(&settings);
  ::cfsetspeed(&settings, B9600);
  ::tcsetattr(slave_, TCSANOW, &settings);
  std::array<char, PATH_MAX> name{};
  if (::ttyname_r(slave_, name.data(), name.size()) != 0) ThrowErrno("ttyname_r");
  slavePath_ = name.data();
}

PtyServer::~PtyServer() {
  Stop();
  for (int fd : {master_, slave_}) {
    if (fd >= 0) ::close(fd);
  }
}

}  // namespace quorlan::sim
