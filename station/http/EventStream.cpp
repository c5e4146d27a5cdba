// SPDX-License-Identifier: Apache-2.0
#include "station/http/EventStream.h"

#include <utility>

namespace quorlan::http {

namespace {

// A field's value ends at a line break; one inside would start a new field.
void AppendField(std::string& out, std::string_view field, std::string_view value) {
  out.append(field);
  out += ": ";
  for (char c : value) {
    if (c != '\n' && c != '\r') out += c;
  }
  out += '\n';
}

}  // namespace

EventStream::EventStream(StreamInfo info, std::size_t buffer_limit)
    : info_(std::move(info)), buffer_limit_(buffer_limit) {}

EventStream::~EventStream() {
  // A stream dropped without closing still gives its slot back.
  std::unique_lock lock(mutex_);
  Finish(lock, false);
}

bool EventStream::Send(std::string_view event, std::string_view data, std::string_view id) {
  std::string frame;
  frame.reserve(event.size() + data.size() + id.size() + 32);
  if (!id.empty()) AppendField(frame, "id", id);
  if (!event.empty()) AppendField(frame, "event", event);
  // Each line of the data is its own data field; the client joins them again.
  std::size_t start = 0;
  while (true) {
    const auto end = data.find('\n', start);
    AppendField(frame, "data", data.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  frame += '\n';
  return Write(frame);
}

bool EventStream::Comment(std::string_view text) {
  std::string frame;
  AppendField(frame, "", text);
  frame += '\n';
  return Write(frame);
}

bool EventStream::Write(std::string_view bytes) {
  std::unique_lock lock(mutex_);
  if (closed_) return false;
  if (pending_.size() + bytes.size() > buffer_limit_) {
    Finish(lock, true);
    return false;
  }
  pending_.append(bytes);
  if (!writing_) {
    writing_ = true;
    // Under the lock, so that Ended() cannot clear it meanwhile; it only posts.
    if (wake_) wake_();
  }
  return true;
}

void EventStream::Close() {
  std::unique_lock lock(mutex_);
  Finish(lock, true);
}

bool EventStream::IsOpen() const {
  std::lock_guard lock(mutex_);
  return !closed_;
}

bool EventStream::WaitQueuedBelow(std::size_t bytes, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return drained_.wait_for(lock, limit, [&] { return closed_ || pending_.size() <= bytes; }) &&
         !closed_;
}

void EventStream::Attach(std::function<void()> wake, std::function<void()> shut) {
  std::unique_lock lock(mutex_);
  wake_ = std::move(wake);
  shut_ = std::move(shut);
  // Closed by the route before the connection took it over.
  if (closed_ && shut_) shut_();
}

void EventStream::OnRelease(std::function<void()> released) {
  std::lock_guard lock(mutex_);
  released_ = std::move(released);
}

bool EventStream::Take(std::string& out) {
  std::lock_guard lock(mutex_);
  if (pending_.empty() || closed_) {
    writing_ = false;
    return false;
  }
  out.swap(pending_);
  pending_.clear();
  drained_.notify_all();
  return true;
}

void EventStream::Ended() {
  std::unique_lock lock(mutex_);
  Finish(lock, false);
  wake_ = nullptr;
  shut_ = nullptr;
}

bool EventStream::Finish(std::unique_lock<std::mutex>& lock, bool call_shut) {
  if (closed_) return false;
  closed_ = true;
  pending_.clear();
  pending_.shrink_to_fit();
  drained_.notify_all();
  if (call_shut && shut_) shut_();
  auto released = std::move(released_);
  released_ = nullptr;
  lock.unlock();
  if (released) released();
  return true;
}

}  // namespace quorlan::http
