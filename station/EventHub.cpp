#include "station/EventHub.h"

namespace quorlan::station {

namespace {

constexpr std::int64_t kReserveBlock = 10000;
constexpr std::size_t kKeptEvents = 4096;

}  // namespace

EventHub::EventHub(Store& store) : store_(store) {
  next_ = store_.EventIdFloor() + 1;
  reserved_ = next_ - 1;
  forgotten_ = next_ - 1;
}

std::int64_t EventHub::AllocateLocked() {
  if (next_ > reserved_) {
    reserved_ = next_ + kReserveBlock;
    store_.ReserveEventIds(reserved_);
  }
  return next_++;
}

void EventHub::PushLocked(StoredEvent event) {
  recent_.push_back(std::move(event));
  while (recent_.size() > kKeptEvents) {
    forgotten_ = recent_.front().id;
    recent_.pop_front();
  }
  changed_.notify_all();
}

std::int64_t EventHub::Publish(const std::string& name, const std::string& data) {
  std::lock_guard lock(mutex_);
  const std::int64_t id = AllocateLocked();
  PushLocked({id, name, data});
  return id;
}

bool EventHub::PublishCommitted(const std::string& name, const std::string& data,
                                const Commit& commit) {
  // Held across the commit, so that events appear in id order.
  std::lock_guard lock(mutex_);
  StoredEvent event{AllocateLocked(), name, data};
  if (!commit(event)) return false;
  PushLocked(std::move(event));
  return true;
}

std::int64_t EventHub::ReserveIds(int count) {
  std::lock_guard lock(mutex_);
  const std::int64_t first = next_;
  for (int i = 0; i < count; ++i) AllocateLocked();
  return first;
}

std::int64_t EventHub::LastId() {
  std::lock_guard lock(mutex_);
  return next_ - 1;
}

std::vector<StoredEvent> EventHub::Wait(std::int64_t after, std::chrono::milliseconds wait,
                                        bool& lost) {
  std::unique_lock lock(mutex_);
  const auto ready = [&] { return closed_ || (!recent_.empty() && recent_.back().id > after); };
  changed_.wait_for(lock, wait, ready);
  lost = after < forgotten_;
  std::vector<StoredEvent> events;
  if (closed_) return events;
  for (const auto& event : recent_) {
    if (event.id > after) events.push_back(event);
  }
  return events;
}

void EventHub::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

bool EventHub::Closed() {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace quorlan::station
