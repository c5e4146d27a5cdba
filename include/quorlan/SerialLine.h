#pragma once
// One serial line: a device opened raw at 8 data bits, no parity, 1 stop bit,
// no flow control, carrying one request/reply exchange at a time. Reads end
// the moment the wanted count has arrived, or when the reply timeout (no first
// byte) or the inter-byte timeout (a gap inside the reply) runs out.

#include <asio.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorlan::serial {

struct LineTimeouts {
  // From the end of the request's transmission to the first reply byte.
  std::chrono::milliseconds reply{500};
  // Longest silence between two bytes of one reply.
  std::chrono::milliseconds interByte{50};
};

class SerialLine {
 public:
  explicit SerialLine(std::string devicePath);
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  const std::string& Path() const { return path_; }
  // Opens the device (again, if it is open) raw at `baud`; false on failure,
  // with the reason in Problem().
  bool Open(unsigned baud);
  void Close();
  bool IsOpen() const { return port_.is_open(); }
  // The system's words for the last failure of this line.
  const std::string& Problem() const { return problem_; }

  // Drops stale input, sends the request and collects up to reply.size()
  // bytes. Returns the count received (0: no reply), or nothing when the line
  // failed, in which case it is closed.
  std::optional<std::size_t> Transfer(std::span<const std::uint8_t> request,
                                      std::span<std::uint8_t> reply, const LineTimeouts& timeouts);

 private:
  using Clock = std::chrono::steady_clock;

  void ApplyRawMode();
  void DropInput();
  void WaitForSilence();
  void ReadMore();
  bool Fail(const asio::error_code& error);

  std::string path_;
  asio::io_context io_;
  asio::serial_port port_{io_};
  asio::steady_timer deadline_{io_};
  unsigned baud_ = 9600;
  std::string problem_;

  // The read in progress.
  std::span<std::uint8_t> target_;
  std::size_t received_ = 0;
  Clock::duration interByte_{};
  asio::error_code readError_;
  // When the line has been silent too long: moved on by every byte, checked
  // when the timer fires, so a byte costs no timer update.
  Clock::time_point silenceEnds_{};
  bool readDone_ = false;
};

}  // namespace quorlan::serial
