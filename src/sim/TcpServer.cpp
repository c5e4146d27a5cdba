#include "TcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace quorlan::sim {
namespace {

[[noreturn]] void ThrowErrno(int fd, const char* what) {
  const int error = errno;
  if (fd >= 0) ::close(fd);
  throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

TcpServer::TcpServer(std::shared_ptr<Responder> responder, int port, PtyOptions options)
    : StreamServer(std::move(responder), options) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener_ < 0) ThrowErrno(-1, "socket");
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowErrno(listener_, "bind");
  }
  if (::listen(listener_, 4) != 0) ThrowErrno(listener_, "listen");
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

TcpServer::~TcpServer() {
  Stop();
  if (listener_ >= 0) ::close(listener_);
}

void TcpServer::Run() {
  while (!Stopping()) {
    std::array<pollfd, 2> fds{{{listener_, POLLIN, 0}, {WakeDescriptor(), POLLIN, 0}}};
    const int ready = ::poll(fds.data(), fds.size(), -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) break;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) continue;
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Serve(client);
    ::close(client);
  }
}

}  // namespace quorlan::sim
