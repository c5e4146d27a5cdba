#pragma once
// Serves a simulated line on a pseudo-terminal, so that any program can
// open its slave end as a serial line. One thread reads request frames from
// the master end and writes the replies, optionally paced at the line rate.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "Line.h"
#include "RequestReader.h"
#include "Trace.h"

namespace quorlan::sim {

// 10 bit times at 9600 baud.
inline constexpr std::chrono::nanoseconds kByteTime9600{1'041'667};

// When byte `index` of a paced reply has fully arrived, counted from the
// moment its request frame was complete. The request's own bytes first cross
// the line (a pseudo-terminal hands them over at once), then every reply byte
// takes its 10 bit times; no turnaround in between. So a status poll (4 bytes
// out, 18 back) lasts 22 byte times, as on a real line.
constexpr std::chrono::nanoseconds PacedReplyByteDue(std::size_t requestBytes, std::size_t index,
                                                     std::chrono::nanoseconds byteTime) {
  return byteTime * static_cast<std::int64_t>(requestBytes + index + 1);
}

struct PtyOptions {
  bool pacing = false;  // exchanges take the line's time (PacedReplyByteDue)
  std::chrono::nanoseconds byteTime = kByteTime9600;
  std::chrono::milliseconds frameGap{50};  // silence that abandons a partial frame
};

class PtyServer {
 public:
  // Opens the pair (raw, no echo); std::system_error when it cannot.
  explicit PtyServer(std::shared_ptr<Line> line, PtyOptions options = {});
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  // Set before Start; called on the server thread (channel 0).
  void SetTrace(TraceHook hook) { trace_ = std::move(hook); }
  void Start();
  // Ends the thread promptly, also in the middle of a late reply.
  void Stop();

 private:
  void Serve();
  void Reply(const Response& response, std::size_t requestBytes,
             std::chrono::steady_clock::time_point requestComplete);
  bool WaitOrStop(std::chrono::nanoseconds time);
  // Writes to the master; false once a stop was requested or the line failed.
  bool WriteOrStop(std::span<const std::uint8_t> bytes);

  std::shared_ptr<Line> line_;
  PtyOptions options_;
  TraceHook trace_;
  int master_ = -1;
  int slave_ = -1;  // kept open so the master never sees a hang-up
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::string slavePath_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  RequestReader reader_;
};

}  // namespace quorlan::sim
