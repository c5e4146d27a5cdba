// SPDX-License-Identifier: Apache-2.0
#pragma once
// The event streams clients read at /api/v1/events: a snapshot of every
// dispenser first (after what it missed, when it says where it stopped),
// then each event as it comes. One thread feeds every stream: the front
// door's streams only queue bytes, so no client's pace holds the others up.
// What a slow reader lost from memory comes again from the database, read in
// pages, a page only once the client has taken most of the last.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "station/app/Station.h"
#include "station/http/EventStream.h"
#include "station/model/Records.h"

namespace quorlan::station {

// Events read from the database at a time.
inline constexpr int kReplayPage = 256;
// A replaying stream gets its next page once fewer bytes than this wait for its client.
inline constexpr std::size_t kReplayQueued = 64 * 1024;

// An event as the stream writes it.
std::string EventText(const StoredEvent& event);

class EventStreams {
 public:
  explicit EventStreams(Station& station);
  ~EventStreams();  // stops feeding
  EventStreams(const EventStreams&) = delete;
  EventStreams& operator=(const EventStreams&) = delete;

  // Feeds `stream` from now on, first with what it missed after `resumeAfter`.
  void Add(std::shared_ptr<http::EventStream> stream, std::optional<std::int64_t> resumeAfter);
  // Ends the feeding thread (the hub's closing ends it too).
  void Stop();

 private:
  struct Reader {
    std::shared_ptr<http::EventStream> stream;
    std::optional<std::int64_t> resumeAfter;
    bool started = false;
    std::int64_t lastSent = 0;
    std::int64_t replayUpTo = 0;  // replaying while lastSent < replayUpTo
    std::string snapshot;         // sent once the replay is done
    std::int64_t snapshotLast = 0;
  };
  void Run();
  void Start(Reader& reader);
  // One step for one reader; false when its client has gone.
  bool Feed(Reader& reader);

  Station& station_;
  std::mutex mutex_;
  std::condition_variable added_;
  std::vector<Reader> incoming_;
  bool stopping_ = false;
  std::thread pump_;
};

}  // namespace quorlan::station
