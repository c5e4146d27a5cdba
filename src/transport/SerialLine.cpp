#include "quorlan/SerialLine.h"

#include <algorithm>
#include <array>

#include "quorlan/PortDispatcher.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#endif

namespace quorlan::serial {

namespace {

// One byte on the line is 10 bit times (start, 8 data, stop).
std::chrono::microseconds ByteTime(unsigned baud) {
  return std::chrono::microseconds(10'000'000 / (baud == 0 ? 1 : baud));
}

bool OpenedByAnother(const asio::error_code& error) {
#if defined(_WIN32)
  return error == asio::error::access_denied;
#else
  return error.value() == EBUSY;
#endif
}

}  // namespace

SerialLine::SerialLine(std::string devicePath) : path_(std::move(devicePath)) {}

bool SerialLine::Open(unsigned baud) {
  Close();
  baud_ = baud;
  busy_ = false;
  inStep_ = true;
  asio::error_code error;
  port_.open(path_, error);
  if (error) {
    busy_ = OpenedByAnother(error);
    return Fail(error);
  }
  if (!TakeExclusively()) return false;
  using Base = asio::serial_port_base;
  port_.set_option(Base::baud_rate(baud), error);
  if (!error) port_.set_option(Base::character_size(8), error);
  if (!error) port_.set_option(Base::parity(Base::parity::none), error);
  if (!error) port_.set_option(Base::stop_bits(Base::stop_bits::one), error);
  if (!error) port_.set_option(Base::flow_control(Base::flow_control::none), error);
  if (error) return Fail(error);
  ApplyRawMode();
  if (!port_.is_open()) return false;
  problem_.clear();
  return true;
}

// A second user of a line would take the replies meant for the first. Other
// programs that honour advisory locks see the flock; TIOCEXCL turns away
// every further open but a privileged one. Windows opens a port exclusively.
bool SerialLine::TakeExclusively() {
#if !defined(_WIN32)
  const int fd = port_.native_handle();
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    busy_ = errno == EWOULDBLOCK;
    return Fail(asio::error_code(errno, asio::error::get_system_category()));
  }
  ::ioctl(fd, TIOCEXCL);  // not every device is a terminal
#endif
  return true;
}

void SerialLine::Close() {
  if (port_.is_open()) {
#if defined(_WIN32)
    ::PurgeComm(port_.native_handle(), PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
#else
    const int fd = port_.native_handle();
    // Output the far end never took would hold the close up.
    ::tcflush(fd, TCIOFLUSH);
    ::ioctl(fd, TIOCNXCL);
#endif
  }
  asio::error_code ignored;
  port_.close(ignored);
}

bool SerialLine::Fail(const asio::error_code& error) {
  return Fail(error.message());
}

bool SerialLine::Fail(std::string problem) {
  problem_ = std::move(problem);
  Close();
  return false;
}

// Asio's options leave some input and output processing alone; frames carry
// 0x0A, 0x0D, 0x11 and 0x13 as data, so every translation must be off.
void SerialLine::ApplyRawMode() {
#if !defined(_WIN32)
  const int fd = port_.native_handle();
  termios mode{};
  if (::tcgetattr(fd, &mode) != 0) {
    Fail(asio::error_code(errno, asio::error::get_system_category()));
    return;
  }
  ::cfmakeraw(&mode);
  mode.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  mode.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  mode.c_cflag |= CLOCAL | CREAD | CS8;
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &mode) != 0) {
    Fail(asio::error_code(errno, asio::error::get_system_category()));
  }
#endif
}

bool SerialLine::InputWaiting() {
#if defined(_WIN32)
  DWORD errors = 0;
  COMSTAT status{};
  return ::ClearCommError(port_.native_handle(), &errors, &status) && status.cbInQue > 0;
#else
  int waiting = 0;
  return ::ioctl(port_.native_handle(), FIONREAD, &waiting) == 0 && waiting > 0;
#endif
}

std::optional<Reply> SerialLine::Transfer(std::span<const std::uint8_t> request,
                                          std::span<std::uint8_t> reply,
                                          const LineTimeouts& timeouts) {
  if (!IsOpen()) return std::nullopt;
  const Clock::duration sending = ByteTime(baud_) * request.size();
  // Long enough for the lateness a reply may have plus a longest reply.
  const bool bounded = timeouts.whole.count() > 0;
  const Clock::duration drainLimit =
      timeouts.settle + timeouts.reply +
      (bounded ? Clock::duration(timeouts.whole)
               : ByteTime(baud_) * std::max(std::size_t(kReplyBufferSize), reply.size()));
  // Bytes waiting before the request answer nothing that was asked.
  if (inStep_ && InputWaiting()) inStep_ = false;
  const bool proving = !inStep_;
  if (proving && !Drain(timeouts.settle, drainLimit)) return std::nullopt;
  inStep_ = false;  // until this exchange has come back whole
  if (!Write(request, timeouts.reply + sending)) return std::nullopt;
  if (echo_) {
    // The echo comes while the request is sent: the reply's wait starts
    // after it, as it would without one.
    const auto echoed = ReadEcho(request, timeouts.reply + sending, timeouts.interByte);
    if (!echoed) return std::nullopt;
    if (!*echoed) return Reply{};
  }
  if (reply.empty()) return Reply{};

  // The write returns once the bytes are queued; their transmission counts
  // against neither timeout.
  const auto received =
      Read(reply, false, timeouts.reply + sending, timeouts.interByte,
           bounded ? timeouts.reply + sending + timeouts.whole : Clock::duration::max());
  if (!received) return std::nullopt;
  Reply result{.count = *received, .extra = pastEnd_};
  const bool whole = endByte_ ? endSeen_ : result.count == reply.size();
  if (proving && whole) {
    // A reply to an earlier request is followed by the one to this request.
    const auto more = Drain(timeouts.interByte, drainLimit);
    if (!more) return std::nullopt;
    result.extra = result.extra || *more > 0;
  }
  inStep_ = whole && !result.extra;
  return result;
}

std::optional<Reply> SerialLine::TransferUntil(std::span<const std::uint8_t> request,
                                               std::span<std::uint8_t> reply, std::uint8_t end,
                                               const LineTimeouts& timeouts) {
  endByte_ = end;
  auto result = Transfer(request, reply, timeouts);
  endByte_.reset();
  return result;
}

std::optional<bool> SerialLine::ReadEcho(std::span<const std::uint8_t> request,
                                         Clock::duration firstWait, Clock::duration gap) {
  std::array<std::uint8_t, kReplyBufferSize> echo{};
  if (request.size() > echo.size()) return false;
  const auto received =
      Read(std::span(echo.data(), request.size()), false, firstWait, gap, Clock::duration::max());
  if (!received) return std::nullopt;
  return *received == request.size() && std::equal(request.begin(), request.end(), echo.begin());
}

bool SerialLine::Write(std::span<const std::uint8_t> request, Clock::duration limit) {
  if (recorder_) recorder_(true, request, std::chrono::system_clock::now());
  asio::error_code result;
  bool written = false;
  bool timedOut = false;
  io_.restart();
  deadline_.expires_after(limit);
  deadline_.async_wait([this, &written, &timedOut](const asio::error_code& error) {
    if (error || written) return;
    timedOut = true;
    port_.cancel();
  });
  asio::async_write(port_, asio::buffer(request.data(), request.size()),
                    [this, &result, &written](const asio::error_code& error, std::size_t) {
                      result = error;
                      written = true;
                      deadline_.cancel();
                    });
  io_.run();
  if (!result) return true;
  // A far end that stops taking bytes (flow control held, a stuck adapter)
  // must not hold the exchange forever.
  if (timedOut) return Fail("the request was not taken within the reply timeout");
  return Fail(result);
}

std::optional<std::size_t> SerialLine::Drain(Clock::duration silence, Clock::duration limit) {
  std::array<std::uint8_t, kReplyBufferSize> dropped{};
  return Read(dropped, true, silence, silence, limit);
}

std::optional<std::size_t> SerialLine::Read(std::span<std::uint8_t> target, bool draining,
                                            Clock::duration firstWait, Clock::duration gap,
                                            Clock::duration limit) {
  target_ = target;
  draining_ = draining;
  received_ = 0;
  endSeen_ = false;
  pastEnd_ = false;
  interByte_ = gap;
  readError_.clear();
  readDone_ = false;
  silent_ = false;
  neverSilent_ = false;
  io_.restart();
  const auto now = Clock::now();
  silenceEnds_ = now + firstWait;
  giveUp_ = limit == Clock::duration::max() ? Clock::time_point::max() : now + limit;
  heard_.clear();
  WaitForSilence();
  ReadMore();
  io_.run();
  // A drain's and an echo's bytes too: the recorder hears all the line said.
  if (recorder_ && !heard_.empty()) recorder_(false, heard_, heardAt_);
  if (readError_) {
    Fail(readError_);
    return std::nullopt;
  }
  if (neverSilent_) {
    Fail("the line does not fall silent");
    return std::nullopt;
  }
  return received_;
}

void SerialLine::WaitForSilence() {
  deadline_.expires_at(std::min(silenceEnds_, giveUp_));
  deadline_.async_wait([this](const asio::error_code& error) {
    if (error || readDone_) return;
    const auto now = Clock::now();
    // Bytes that came meanwhile moved the end of the silence on.
    if (now < silenceEnds_ && now < giveUp_) return WaitForSilence();
    silent_ = true;
    neverSilent_ = now < silenceEnds_;
    port_.cancel();
  });
}

void SerialLine::ReadMore() {
  const auto free = draining_ ? target_ : target_.subspan(received_);
  port_.async_read_some(
      asio::buffer(free.data(), free.size()),
      [this, free](const asio::error_code& error, std::size_t count) {
        if (recorder_ && count > 0) {
          if (heard_.empty()) heardAt_ = std::chrono::system_clock::now();
          heard_.insert(heard_.end(), free.begin(), free.begin() + count);
        }
        const bool firstBytes = received_ == 0;
        received_ += count;
        if (endByte_ && !draining_) {
          const auto end = free.begin() + count;
          const auto mark = std::find(free.begin(), end, *endByte_);
          endSeen_ = mark != end;
          // Bytes after the mark answer nothing that was asked.
          pastEnd_ = endSeen_ && mark + 1 != end;
        }
        if (error && error != asio::error::operation_aborted) readError_ = error;
        // A byte that came as the timer fired ends a reply (its gap was
        // over), but not the silence a drain waits for.
        const bool silenceBroken = silent_ && draining_ && !neverSilent_ && count > 0 && !error;
        if (silenceBroken) silent_ = false;
        if (error || silent_ || endSeen_ || (!draining_ && received_ == target_.size())) {
          readDone_ = true;
          deadline_.cancel();
          return;
        }
        silenceEnds_ = Clock::now() + interByte_;
        // The reply timeout gives way to the shorter gap once; a broken
        // silence needs the timer again.
        if (firstBytes || silenceBroken) WaitForSilence();
        ReadMore();
      });
}

}  // namespace quorlan::serial
