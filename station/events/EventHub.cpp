#include "station/events/EventHub.h"

#include <algorithm>
#include <iterator>

#include "station/metrics/Metrics.h"

namespace quorlan::station {

namespace {

constexpr std::int64_t kReserveBlock = 10000;
constexpr std::size_t kKeptEvents = 4096;

}  // namespace

EventHub::EventHub(EventJournal& journal) : journal_(journal) {
  next_ = journal_.IdFloor() + 1;
  reserved_ = next_ - 1;
  forgotten_ = next_ - 1;
}

std::int64_t EventHub::AllocateLocked() {
  if (next_ > reserved_) {
    reserved_ = next_ + kReserveBlock;
    journal_.Reserve(reserved_);
  }
  return next_++;
}

void EventHub::PushLocked(StoredEvent event) {
  ServiceMetrics().events.Add();
  // A committed event may land behind passing ones published meanwhile.
  auto at = recent_.end();
  while (at != recent_.begin() && std::prev(at)->id > event.id) --at;
  recent_.insert(at, std::move(event));
  while (recent_.size() > kKeptEvents) {
    forgotten_ = recent_.front().id;
    recent_.pop_front();
  }
  changed_.notify_all();
}

std::int64_t EventHub::Publish(const std::string& name, const std::string& data) {
  std::int64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    id = AllocateLocked();
    PushLocked({id, name, data});
  }
  std::lock_guard observing(observerMutex_);
  if (observer_) observer_({id, name, data});
  return id;
}

void EventHub::Observe(Observer observer) {
  std::lock_guard observing(observerMutex_);
  observer_ = std::move(observer);
}

std::int64_t EventHub::HorizonLocked() const {
  return committing_ ? *committing_ : next_;
}

bool EventHub::PublishCommitted(const std::string& name, const std::string& data,
                                const Commit& commit) {
  std::lock_guard order(commitMutex_);
  StoredEvent event{0, name, data};
  {
    std::lock_guard lock(mutex_);
    event.id = AllocateLocked();
    committing_ = event.id;
  }
  bool stored = false;
  try {
    stored = commit(event);
  } catch (...) {
    std::lock_guard lock(mutex_);
    committing_.reset();
    changed_.notify_all();
    throw;
  }
  std::lock_guard lock(mutex_);
  committing_.reset();
  if (stored) {
    PushLocked(std::move(event));
  } else {
    changed_.notify_all();  // what waited behind the id may go
  }
  return stored;
}

std::int64_t EventHub::ReserveIds(int count) {
  // After any commit under way: every id below the block is in the database.
  std::lock_guard order(commitMutex_);
  std::lock_guard lock(mutex_);
  const std::int64_t first = next_;
  for (int i = 0; i < count; ++i) AllocateLocked();
  return first;
}

std::int64_t EventHub::LastId() {
  std::lock_guard lock(mutex_);
  return HorizonLocked() - 1;
}

std::vector<StoredEvent> EventHub::Wait(std::int64_t after, std::chrono::milliseconds wait,
                                        bool& lost) {
  std::unique_lock lock(mutex_);
  // The first event after `after`, unless it waits behind a commit.
  const auto next = [&] {
    auto at =
        std::upper_bound(recent_.begin(), recent_.end(), after,
                         [](std::int64_t id, const StoredEvent& event) { return id < event.id; });
    return at != recent_.end() && at->id < HorizonLocked() ? at : recent_.end();
  };
  const std::uint64_t wakes = wakes_;
  changed_.wait_for(lock, wait,
                    [&] { return closed_ || wakes_ != wakes || next() != recent_.end(); });
  lost = after < forgotten_;
  std::vector<StoredEvent> events;
  if (closed_) return events;
  const std::int64_t horizon = HorizonLocked();
  for (auto at = next(); at != recent_.end() && at->id < horizon; ++at) events.push_back(*at);
  return events;
}

void EventHub::Wake() {
  std::lock_guard lock(mutex_);
  ++wakes_;
  changed_.notify_all();
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
