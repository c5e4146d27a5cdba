// SPDX-License-Identifier: Apache-2.0
#pragma once
// The event stream a client reads at /api/v1/events: a snapshot of every
// dispenser first (after what it missed, when it says where it stopped),
// then each event as it comes, with a comment now and then to keep the
// connection. What a slow reader lost from memory comes again from the
// database, read in pages.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "station/Records.h"
#include "station/Station.h"

namespace quorlan::station {

inline constexpr int kMaxStreams = 64;
inline constexpr std::chrono::seconds kKeepAliveComment{15};
// Events read from the database at a time.
inline constexpr int kReplayPage = 256;

// An event as the stream writes it.
std::string EventText(const StoredEvent& event);

class EventStreams {
 public:
  explicit EventStreams(Station& station);
  // Streams to the response; false when kMaxStreams are open already.
  bool Open(std::optional<std::int64_t> resumeAfter, httplib::Response& res);

 private:
  struct Reader {
    bool started = false;
    std::int64_t lastSent = 0;
    std::optional<std::int64_t> resumeAfter;
  };
  bool Next(Reader& reader, httplib::DataSink& sink);
  // The stored events with after < id <= upTo, a page at a time.
  bool Replay(std::int64_t after, std::int64_t upTo, httplib::DataSink& sink);

  Station& station_;
  std::shared_ptr<std::atomic<int>> open_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace quorlan::station
