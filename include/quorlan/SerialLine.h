#pragma once
// One serial line: a device opened raw at 8 data bits, no parity, 1 stop bit,
// no flow control, for this process alone, carrying one request/reply
// exchange at a time. Reads end the moment the wanted count has arrived, or
// when the reply timeout (no first byte) or the inter-byte timeout (a gap
// inside the reply) runs out.
//
// The line keeps track of whether it is in step: whether every byte that
// came back so far answered a request. After anything else (no reply, a
// short or rejected reply, bytes nobody asked for) a late reply may still be
// on its way, so the next exchange proves that its reply is its own: the
// line must first fall silent for the settle time, and after the expected
// count nothing more may follow within the inter-byte timeout.

#include <asio.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorlan::serial {

struct LineTimeouts {
  // From the end of the request's transmission to the first reply byte; a
  // request that cannot be written within this time (plus its transmission
  // time) fails the line.
  std::chrono::milliseconds reply{500};
  // Longest silence between two bytes of one reply.
  std::chrono::milliseconds interByte{50};
  // Silence the line keeps before a request once it is out of step.
  std::chrono::milliseconds settle{100};
  // Longest a reply may take after its first byte is due (0: as long as the
  // reply buffer lasts), and a drain in all: a line that trickles or
  // babbles past it fails. For long replies of any length.
  std::chrono::milliseconds whole{0};
};

// What came back for one request.
struct Reply {
  std::size_t count = 0;  // bytes in the reply buffer
  bool extra = false;     // more bytes followed the expected count
};

// Told of every byte a line carries: each request as it goes out (sent),
// and what each read brought in, stamped with the time its first byte came.
// Called on the exchange's thread, so it must not block.
using LineRecorder = std::function<void(bool sent, std::span<const std::uint8_t> bytes,
                                        std::chrono::system_clock::time_point at)>;

class SerialLine {
 public:
  explicit SerialLine(std::string devicePath);
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  const std::string& Path() const { return path_; }
  // Opens the device (again, if it is open) raw at `baud`, exclusively;
  // false on failure, with the reason in Problem() and Busy() telling
  // whether another program holds the line.
  bool Open(unsigned baud);
  void Close();
  bool IsOpen() const { return port_.is_open(); }
  // The system's words for the last failure of this line.
  const std::string& Problem() const { return problem_; }
  bool Busy() const { return busy_; }

  // Sends the request and collects up to reply.size() bytes. Returns what
  // came back (count 0: no reply), or nothing when the line failed, in which
  // case it is closed.
  std::optional<Reply> Transfer(std::span<const std::uint8_t> request,
                                std::span<std::uint8_t> reply, const LineTimeouts& timeouts);
  // The same for replies of any length that close with a mark: the read
  // ends at the first `end` byte (or a silence), and the exchange is in
  // step when the reply ended there with nothing after it.
  std::optional<Reply> TransferUntil(std::span<const std::uint8_t> request,
                                     std::span<std::uint8_t> reply, std::uint8_t end,
                                     const LineTimeouts& timeouts);
  // The exchange failed for a reason the line cannot see (the reply was
  // rejected): the next one makes sure of its reply.
  void LoseStep() { inStep_ = false; }
  // A two-wire adapter that hears its own request: each request's bytes are
  // read back and compared before the reply is awaited; an echo that differs
  // or does not come ends the exchange without a reply. Off by default.
  void SetEcho(bool on) { echo_ = on; }
  bool Echo() const { return echo_; }
  // Set before the first exchange; empty: nothing is recorded.
  void SetRecorder(LineRecorder recorder) { recorder_ = std::move(recorder); }

 private:
  using Clock = std::chrono::steady_clock;

  void ApplyRawMode();
  bool TakeExclusively();
  bool InputWaiting();
  bool Write(std::span<const std::uint8_t> request, Clock::duration limit);
  // Reads the request's echo; true when it came back unchanged, nothing when
  // the line failed.
  std::optional<bool> ReadEcho(std::span<const std::uint8_t> request, Clock::duration firstWait,
                               Clock::duration gap);
  std::optional<std::size_t> Drain(Clock::duration silence, Clock::duration limit);
  std::optional<std::size_t> Read(std::span<std::uint8_t> target, bool draining,
                                  Clock::duration firstWait, Clock::duration gap,
                                  Clock::duration limit);
  void WaitForSilence();
  void ReadMore();
  bool Fail(const asio::error_code& error);
  bool Fail(std::string problem);

  std::string path_;
  asio::io_context io_;
  asio::serial_port port_{io_};
  asio::steady_timer deadline_{io_};
  unsigned baud_ = 9600;
  std::string problem_;
  bool busy_ = false;
  bool inStep_ = true;
  bool echo_ = false;
  LineRecorder recorder_;
  // What the read in progress brought, for the recorder, and when it began.
  std::vector<std::uint8_t> heard_;
  std::chrono::system_clock::time_point heardAt_{};

  // The read in progress: into target_ until it is full, or, draining, into
  // it over and over until the line has been silent long enough.
  std::span<std::uint8_t> target_;
  bool draining_ = false;
  std::optional<std::uint8_t> endByte_;  // TransferUntil's mark
  bool endSeen_ = false;
  bool pastEnd_ = false;  // bytes came after the mark
  std::size_t received_ = 0;
  Clock::duration interByte_{};
  asio::error_code readError_;
  // When the line has been silent too long: moved on by every byte, checked
  // when the timer fires, so a byte costs no timer update.
  Clock::time_point silenceEnds_{};
  // When a drain gives up on a line that never falls silent.
  Clock::time_point giveUp_{};
  bool readDone_ = false;
  bool silent_ = false;       // the timer ended the read
  bool neverSilent_ = false;  // ... because a drain gave up
};

}  // namespace quorlan::serial
