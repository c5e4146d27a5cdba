#include "StreamServer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace quorlan::sim {
namespace {

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

}  // namespace

StreamServer::StreamServer(std::shared_ptr<Responder> responder, PtyOptions options)
    : responder_(std::move(responder)), options_(options) {
  std::array<int, 2> wake{};
  if (::pipe2(wake.data(), O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
}

StreamServer::~StreamServer() {
  for (int fd : {wakeRead_, wakeWrite_}) {
    if (fd >= 0) ::close(fd);
  }
}

void StreamServer::Start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
}

void StreamServer::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  const std::uint8_t wake = 1;
  WriteAll(wakeWrite_, std::span(&wake, 1));
  thread_.join();
  std::uint8_t drained = 0;
  while (::read(wakeRead_, &drained, 1) < 0 && errno == EINTR) {
  }
}

bool StreamServer::WriteOrStop(int stream, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty() && !stopping_) {
    const auto written = ::write(stream, bytes.data(), bytes.size());
    if (written >= 0) {
      bytes = bytes.subspan(std::size_t(written));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    std::array<pollfd, 2> fds{{{stream, POLLOUT, 0}, {wakeRead_, POLLIN, 0}}};
    while (::poll(fds.data(), fds.size(), -1) < 0 && errno == EINTR) {
    }
  }
  return !stopping_;
}

bool StreamServer::WaitOrStop(std::chrono::nanoseconds time) {
  if (time.count() <= 0) return !stopping_;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time);
  const timespec timeout{static_cast<time_t>(seconds.count()),
                         static_cast<long>((time - seconds).count())};
  pollfd wake{wakeRead_, POLLIN, 0};
  while (::ppoll(&wake, 1, &timeout, nullptr) < 0 && errno == EINTR) {
  }
  return !stopping_;
}

void StreamServer::Serve(int stream) {
  std::array<std::uint8_t, 256> buffer{};
  while (!stopping_) {
    std::array<pollfd, 2> fds{{{stream, POLLIN, 0}, {wakeRead_, POLLIN, 0}}};
    const int timeout = responder_->Partial() ? int(options_.frameGap.count()) : -1;
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) break;
    if (ready == 0) {
      responder_->Reset();  // the line fell silent inside a frame
      continue;
    }
    const auto count = ::read(stream, buffer.data(), buffer.size());
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) break;
    if (options_.echo && !WriteOrStop(stream, std::span(buffer.data(), std::size_t(count)))) break;
    for (std::size_t i = 0; i < std::size_t(count) && !stopping_; ++i) {
      if (auto frame = responder_->Feed(buffer[i])) {
        const auto complete = std::chrono::steady_clock::now();
        if (trace_) trace_(TraceDirection::Request, 0, *frame);
        Reply(stream, responder_->Answer(*frame), frame->size(), complete);
      }
    }
  }
}

void StreamServer::Reply(int stream, const Response& response, std::size_t requestBytes,
                         std::chrono::steady_clock::time_point requestComplete) {
  if (!response.Replied() || response.bytes.empty()) {
    if (trace_) trace_(TraceDirection::NoReply, 0, {});
    return;
  }
  if (response.delivery == Response::Delivery::Late && !WaitOrStop(response.delay)) return;
  if (!options_.pacing) {
    if (!WriteOrStop(stream, response.bytes)) return;
  } else {
    // A late reply's wait sits between the request and the reply.
    const bool late = response.delivery == Response::Delivery::Late;
    const auto start = requestComplete + (late ? response.delay : std::chrono::milliseconds(0));
    for (std::size_t i = 0; i < response.bytes.size(); ++i) {
      const auto due = start + PacedReplyByteDue(requestBytes, i, options_.byteTime);
      if (!WaitOrStop(due - std::chrono::steady_clock::now())) return;
      if (!WriteOrStop(stream, std::span(&response.bytes[i], 1))) return;
    }
  }
  if (trace_) trace_(TraceDirection::Reply, 0, response.bytes);
}

}  // namespace quorlan::sim
