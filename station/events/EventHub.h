#pragma once
// The station's event log: every event gets the next id of one sequence that
// keeps increasing across restarts (ids are reserved in blocks in the
// database, so a restart starts above anything ever handed out). Fill and
// price events are written to the database in the same transaction as the
// change they announce, before anyone sees them.
//
// Lock order: commitMutex_, then mutex_, then the journal's database's. A committed
// event's transaction (and its fsync) runs under commitMutex_ alone, so the
// dispensers' passing events never wait behind it; readers see no event
// above one still being committed, so ids still reach every stream in order.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/journal/EventJournal.h"
#include "station/model/Records.h"

namespace quorlan::station {

class EventHub {
 public:
  // Ids continue above the journal's floor and are reserved there in blocks.
  explicit EventHub(EventJournal& journal);

  // A passing event (dispenser, line): kept in memory only.
  std::int64_t Publish(const std::string& name, const std::string& data);
  // A money event: `commit` writes the change and the event (with the id it
  // is given) in one transaction; the event is published only when that
  // returns true.
  using Commit = std::function<bool(StoredEvent& event)>;
  bool PublishCommitted(const std::string& name, const std::string& data, const Commit& commit);
  // `count` ids in a row for events sent to one stream only (a snapshot);
  // returns the first. Every event published before has a smaller id, every
  // later one a larger.
  std::int64_t ReserveIds(int count);

  // The last id a reader may have: none above it is still being committed.
  std::int64_t LastId();
  // Events after `after`, waiting up to `wait` when there is none; empty
  // after the wait, or when the hub closes. `lost` is set when events after
  // `after` already left the memory.
  std::vector<StoredEvent> Wait(std::int64_t after, std::chrono::milliseconds wait, bool& lost);
  // Ends every Wait under way now, as an event would.
  void Wake();
  void Close();
  bool Closed();

  // Handed each passing event (a dispenser's view, a line, an alarm) as it
  // is published: on the publishing thread, after the hub's own locks are
  // released, one call at a time. nullptr: none. Set before the lines start.
  using Observer = std::function<void(const StoredEvent& event)>;
  void Observe(Observer observer);

 private:
  std::int64_t AllocateLocked();
  void PushLocked(StoredEvent event);
  std::int64_t HorizonLocked() const;  // the first id not yet visible

  EventJournal& journal_;
  std::mutex commitMutex_;  // one committed event at a time, and no snapshot meanwhile
  std::mutex mutex_;
  std::optional<std::int64_t> committing_;  // the id whose transaction runs
  std::condition_variable changed_;
  std::deque<StoredEvent> recent_;  // in id order
  std::int64_t next_ = 1;
  std::int64_t reserved_ = 0;
  std::int64_t forgotten_ = 0;  // the highest id no longer in memory
  std::uint64_t wakes_ = 0;
  bool closed_ = false;
  std::mutex observerMutex_;  // held while the observer runs
  Observer observer_;
};

}  // namespace quorlan::station
