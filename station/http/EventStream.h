// SPDX-License-Identifier: Apache-2.0
#pragma once
// One Server-Sent Events client. Any thread may write to it; a write only
// queues bytes and never waits for the client. A client whose queue passes the
// bound is dropped: the stream closes and every later write returns false, so
// the publisher lets go of it.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace quorlan::http {

struct StreamInfo {
  std::string client;  // the peer's address
  std::string target;  // the request target that opened the stream
  std::string owner;   // whatever the route named it by, e.g. the caller's token name
};

class EventStream {
 public:
  EventStream(StreamInfo info, std::size_t buffer_limit);
  ~EventStream();
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;

  // One event; `data` may hold several lines. False once the stream is closed.
  bool Send(std::string_view event, std::string_view data, std::string_view id = {});
  // A comment line (": text"), which clients ignore.
  bool Comment(std::string_view text = {});
  // Raw bytes, already framed.
  bool Write(std::string_view bytes);
  void Close();
  bool IsOpen() const;
  // For a writer of much history (a replay): waits until at most `bytes` are
  // queued. False when the stream closed or the time ran out first.
  bool WaitQueuedBelow(std::size_t bytes, std::chrono::milliseconds limit);
  const StreamInfo& Info() const { return info_; }

  // For the connection that carries the stream. `wake` is called (at most once
  // until the next Take finds nothing) when bytes are queued; `shut` closes the
  // connection; `released` runs once when the stream closes for any reason.
  void Attach(std::function<void()> wake, std::function<void()> shut);
  void OnRelease(std::function<void()> released);
  // Moves the queued bytes to `out`; false when there are none (the writer
  // then sleeps until the next wake).
  bool Take(std::string& out);
  // The connection has ended: closes without calling back into it.
  void Ended();

 private:
  bool Finish(std::unique_lock<std::mutex>& lock, bool call_shut);

  const StreamInfo info_;
  const std::size_t buffer_limit_;
  mutable std::mutex mutex_;
  std::condition_variable drained_;
  std::string pending_;
  bool writing_ = true;  // the connection flushes by itself once attached
  bool closed_ = false;
  std::function<void()> wake_;
  std::function<void()> shut_;
  std::function<void()> released_;
};

}  // namespace quorlan::http
