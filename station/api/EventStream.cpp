// SPDX-License-Identifier: Apache-2.0
#include "station/api/EventStream.h"

#include <algorithm>
#include <chrono>

#include "station/format/EventData.h"
#include "station/metrics/Metrics.h"

namespace quorlan::station {

namespace {

// How long the feeder sleeps with nothing to send, and while a replaying
// client has yet to take its last page.
constexpr std::chrono::milliseconds kIdleWait{1000};
constexpr std::chrono::milliseconds kReplayWait{20};

}  // namespace

std::string EventText(const StoredEvent& event) {
  return "id: " + std::to_string(event.id) + "\nevent: " + event.name + "\ndata: " + event.data +
         "\n\n";
}

EventStreams::EventStreams(Station& station) : station_(station), pump_([this] { Run(); }) {}

EventStreams::~EventStreams() {
  Stop();
  pump_.join();
}

void EventStreams::Add(std::shared_ptr<http::EventStream> stream,
                       std::optional<std::int64_t> resumeAfter) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return stream->Close();
    Reader reader;
    reader.stream = std::move(stream);
    reader.resumeAfter = resumeAfter;
    incoming_.push_back(std::move(reader));
  }
  station_.Events().Wake();
}

void EventStreams::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  station_.Events().Wake();
}

void EventStreams::Start(Reader& reader) {
  EventHub& hub = station_.Events();
  reader.started = true;
  const auto lines = station_.Lines();
  std::size_t count = 0;
  for (LineWorker* line : lines) count += line->Views().size();
  // Ids first, views after: whatever changes meanwhile comes later with a
  // larger id.
  const std::int64_t first = hub.ReserveIds(static_cast<int>(count));
  std::int64_t id = first;
  for (LineWorker* line : lines) {
    for (const auto& view : line->Views()) {
      if (id >= first + static_cast<std::int64_t>(count)) break;
      reader.snapshot += EventText({id++, kDispenserEvent, DispenserEventData(view)});
    }
  }
  reader.snapshotLast = first + static_cast<std::int64_t>(count) - 1;
  if (reader.resumeAfter) {
    reader.lastSent = *reader.resumeAfter;
    reader.replayUpTo = first - 1;
  } else {
    reader.lastSent = reader.replayUpTo = first - 1;
  }
}

bool EventStreams::Feed(Reader& reader) {
  http::EventStream& stream = *reader.stream;
  if (!stream.IsOpen()) return false;
  if (reader.lastSent < reader.replayUpTo) {
    // The client has not taken the last page yet: later.
    if (!stream.WaitQueuedBelow(kReplayQueued, std::chrono::milliseconds(0))) {
      return stream.IsOpen();
    }
    const auto events =
        station_.Journal().events.After(reader.lastSent, reader.replayUpTo, kReplayPage);
    std::string out;
    for (const auto& event : events) out += EventText(event);
    if (!out.empty() && !stream.Write(out)) return false;
    reader.lastSent = events.size() < static_cast<std::size_t>(kReplayPage) ? reader.replayUpTo
                                                                            : events.back().id;
    if (reader.lastSent < reader.replayUpTo) return true;
  }
  if (!reader.snapshot.empty()) {
    if (!stream.Write(reader.snapshot)) return false;
    reader.snapshot.clear();
    reader.lastSent = std::max(reader.lastSent, reader.snapshotLast);
  }
  bool lost = false;
  const auto events = station_.Events().Wait(reader.lastSent, std::chrono::milliseconds(0), lost);
  if (lost) {
    // Too slow a reader: fills and prices come again from the database.
    reader.replayUpTo = events.empty() ? station_.Events().LastId() : events.front().id - 1;
    return true;
  }
  std::string out;
  for (const auto& event : events) {
    out += EventText(event);
    reader.lastSent = event.id;
  }
  return out.empty() || stream.Write(out);
}

void EventStreams::Run() {
  EventHub& hub = station_.Events();
  std::vector<Reader> readers;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      for (Reader& reader : incoming_) readers.push_back(std::move(reader));
      incoming_.clear();
    }
    if (hub.Closed()) break;
    // Read before feeding: an event published meanwhile ends the wait below.
    const std::int64_t seen = hub.LastId();
    bool replaying = false;
    std::erase_if(readers, [&](Reader& reader) {
      try {
        if (!reader.started) Start(reader);
        if (!Feed(reader)) return true;
      } catch (const std::exception&) {
        // The database could not be read: this client reconnects and resumes.
        reader.stream->Close();
        return true;
      }
      replaying = replaying || reader.lastSent < reader.replayUpTo;
      return false;
    });
    ServiceMetrics().eventStreams.Set(static_cast<std::int64_t>(readers.size()));
    bool lost = false;
    hub.Wait(seen, replaying ? kReplayWait : kIdleWait, lost);
  }
  for (Reader& reader : readers) reader.stream->Close();
  ServiceMetrics().eventStreams.Set(0);
  std::lock_guard lock(mutex_);
  for (Reader& reader : incoming_) reader.stream->Close();
  incoming_.clear();
}

}  // namespace quorlan::station
