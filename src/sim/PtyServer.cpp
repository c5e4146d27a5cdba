#include "PtyServer.h"

#include <fcntl.h>
#include <poll.h>
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

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const auto written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    bytes = bytes.subspan(std::size_t(written));
  }
  return true;
}

void NonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

PtyServer::PtyServer(std::shared_ptr<Line> line, PtyOptions options)
    : line_(std::move(line)), options_(options) {
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
  std::array<int, 2> wake{};
  if (::pipe2(wake.data(), O_CLOEXEC) != 0) ThrowErrno("pipe2");
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
}

PtyServer::~PtyServer() {
  Stop();
  for (int fd : {master_, slave_, wakeRead_, wakeWrite_}) {
    if (fd >= 0) ::close(fd);
  }
}

void PtyServer::Start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Serve(); });
}

void PtyServer::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  const std::uint8_t wake = 1;
  WriteAll(wakeWrite_, std::span(&wake, 1));
  thread_.join();
  std::uint8_t drained = 0;
  while (::read(wakeRead_, &drained, 1) < 0 && errno == EINTR) {
  }
}

bool PtyServer::WriteOrStop(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty() && !stopping_) {
    const auto written = ::write(master_, bytes.data(), bytes.size());
    if (written >= 0) {
      bytes = bytes.subspan(std::size_t(written));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    std::array<pollfd, 2> fds{{{master_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}}};
    while (::poll(fds.data(), fds.size(), -1) < 0 && errno == EINTR) {
    }
  }
  return !stopping_;
}

bool PtyServer::WaitOrStop(std::chrono::nanoseconds time) {
  if (time.count() <= 0) return !stopping_;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time);
  const timespec timeout{static_cast<time_t>(seconds.count()),
                         static_cast<long>((time - seconds).count())};
  pollfd wake{wakeRead_, POLLIN, 0};
  while (::ppoll(&wake, 1, &timeout, nullptr) < 0 && errno == EINTR) {
  }
  return !stopping_;
}

void PtyServer::Serve() {
  std::array<std::uint8_t, 256> buffer{};
  while (!stopping_) {
    std::array<pollfd, 2> fds{{{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}}};
    const int timeout = reader_.Partial() ? int(options_.frameGap.count()) : -1;
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) break;
    if (ready == 0) {
      reader_.Reset();  // the line fell silent inside a frame
      continue;
    }
    const auto count = ::read(master_, buffer.data(), buffer.size());
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) break;
    for (std::size_t i = 0; i < std::size_t(count) && !stopping_; ++i) {
      if (auto frame = reader_.Feed(buffer[i])) {
        const auto complete = std::chrono::steady_clock::now();
        if (trace_) trace_(TraceDirection::Request, 0, *frame);
        Reply(line_->Answer(*frame), frame->size(), complete);
      }
    }
  }
}

void PtyServer::Reply(const Response& response, std::size_t requestBytes,
                      std::chrono::steady_clock::time_point requestComplete) {
  if (!response.Replied() || response.bytes.empty()) {
    if (trace_) trace_(TraceDirection::NoReply, 0, {});
    return;
  }
  if (response.delivery == Response::Delivery::Late && !WaitOrStop(response.delay)) return;
  if (!options_.pacing) {
    if (!WriteOrStop(response.bytes)) return;
  } else {
    // A late reply's wait sits between the request and the reply.
    const bool late = response.delivery == Response::Delivery::Late;
    const auto start = requestComplete + (late ? response.delay : std::chrono::milliseconds(0));
    for (std::size_t i = 0; i < response.bytes.size(); ++i) {
      const auto due = start + PacedReplyByteDue(requestBytes, i, options_.byteTime);
      if (!WaitOrStop(due - std::chrono::steady_clock::now())) return;
      if (!WriteOrStop(std::span(&response.bytes[i], 1))) return;
    }
  }
  if (trace_) trace_(TraceDirection::Reply, 0, response.bytes);
}

}  // namespace quorlan::sim
