#include "quorlan/SerialLine.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <termios.h>
#endif

namespace quorlan::serial {

namespace {

// One byte on the line is 10 bit times (start, 8 data, stop).
std::chrono::microseconds ByteTime(unsigned baud) {
  return std::chrono::microseconds(10'000'000 / (baud == 0 ? 1 : baud));
}

}  // namespace

SerialLine::SerialLine(std::string devicePath) : path_(std::move(devicePath)) {}

bool SerialLine::Open(unsigned baud) {
  Close();
  baud_ = baud;
  asio::error_code error;
  port_.open(path_, error);
  if (error) return Fail(error);
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

void SerialLine::Close() {
  asio::error_code ignored;
  port_.close(ignored);
}

bool SerialLine::Fail(const asio::error_code& error) {
  problem_ = error.message();
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

void SerialLine::DropInput() {
#if defined(_WIN32)
  ::PurgeComm(port_.native_handle(), PURGE_RXCLEAR);
#else
  ::tcflush(port_.native_handle(), TCIFLUSH);
#endif
}

std::optional<std::size_t> SerialLine::Transfer(std::span<const std::uint8_t> request,
                                                std::span<std::uint8_t> reply,
                                                const LineTimeouts& timeouts) {
  if (!IsOpen()) return std::nullopt;
  DropInput();
  asio::error_code error;
  asio::write(port_, asio::buffer(request.data(), request.size()), error);
  if (error) {
    Fail(error);
    return std::nullopt;
  }
  if (reply.empty()) return 0;

  // The write returns once the bytes are queued; their transmission counts
  // against neither timeout.
  target_ = reply;
  received_ = 0;
  interByte_ = timeouts.interByte;
  readError_.clear();
  readDone_ = false;
  io_.restart();
  silenceEnds_ = Clock::now() + timeouts.reply + ByteTime(baud_) * request.size();
  WaitForSilence();
  ReadMore();
  io_.run();
  if (readError_) {
    Fail(readError_);
    return std::nullopt;
  }
  return received_;
}

void SerialLine::WaitForSilence() {
  deadline_.expires_at(silenceEnds_);
  deadline_.async_wait([this](const asio::error_code& error) {
    if (error || readDone_) return;
    // Bytes that came meanwhile moved the end of the silence on.
    if (Clock::now() < silenceEnds_) return WaitForSilence();
    port_.cancel();
  });
}

void SerialLine::ReadMore() {
  port_.async_read_some(asio::buffer(target_.data() + received_, target_.size() - received_),
                        [this](const asio::error_code& error, std::size_t count) {
                          const bool firstBytes = received_ == 0;
                          received_ += count;
                          const bool timedOut = error == asio::error::operation_aborted;
                          if (error && !timedOut) readError_ = error;
                          if (error || received_ == target_.size()) {
                            readDone_ = true;
                            deadline_.cancel();
                            return;
                          }
                          silenceEnds_ = Clock::now() + interByte_;
                          // The reply timeout gives way to the shorter gap once.
                          if (firstBytes) WaitForSilence();
                          ReadMore();
                        });
}

}  // namespace quorlan::serial
