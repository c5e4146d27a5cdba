#pragma once
// Serves a Responder on a byte stream (a pseudo-terminal's master end, a TCP
// connection) on a thread of its own: reads requests, writes the replies,
// optionally paced at the line rate, and stops promptly at any point, also
// in the middle of a late or paced reply and with a client that never reads.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <thread>

#include "Responder.h"
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
  // Every byte the host sends comes straight back, as from a two-wire
  // adapter that hears itself.
  bool echo = false;
};

class StreamServer {
 public:
  StreamServer(std::shared_ptr<Responder> responder, PtyOptions options);
  // A server that was started must be stopped by its own destructor, while
  // what Run() uses is still there.
  virtual ~StreamServer();
  StreamServer(const StreamServer&) = delete;
  StreamServer& operator=(const StreamServer&) = delete;

  // Set before Start; called on the server thread (channel 0).
  void SetTrace(TraceHook hook) { trace_ = std::move(hook); }
  void Start();
  // Ends the thread promptly, also in the middle of a late reply.
  void Stop();

 protected:
  // The thread's work, until a stop.
  virtual void Run() = 0;
  // Serves one stream (non-blocking) until it ends or a stop comes.
  void Serve(int stream);
  bool Stopping() const { return stopping_; }
  // Readable when a stop is requested: poll it beside a descriptor.
  int WakeDescriptor() const { return wakeRead_; }

 private:
  void Reply(int stream, const Response& response, std::size_t requestBytes,
             std::chrono::steady_clock::time_point requestComplete);
  bool WaitOrStop(std::chrono::nanoseconds time);
  // Writes to the stream; false once a stop was requested or it failed.
  bool WriteOrStop(int stream, std::span<const std::uint8_t> bytes);

  std::shared_ptr<Responder> responder_;
  PtyOptions options_;
  TraceHook trace_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace quorlan::sim
