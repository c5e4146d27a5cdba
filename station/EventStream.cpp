// SPDX-License-Identifier: Apache-2.0
#include "station/EventStream.h"

#include "station/EventData.h"

namespace quorlan::station {

std::string EventText(const StoredEvent& event) {
  return "id: " + std::to_string(event.id) + "\nevent: " + event.name + "\ndata: " + event.data +
         "\n\n";
}

EventStreams::EventStreams(Station& station) : station_(station) {}

bool EventStreams::Open(std::optional<std::int64_t> resumeAfter, httplib::Response& res) {
  for (int now = open_->load();;) {
    if (now >= kMaxStreams) return false;
    if (open_->compare_exchange_weak(now, now + 1)) break;
  }
  auto reader = std::make_shared<Reader>();
  reader->resumeAfter = resumeAfter;
  res.set_header("Cache-Control", "no-cache");
  res.set_header("X-Accel-Buffering", "no");
  auto released = std::make_shared<std::atomic<bool>>(false);
  res.set_chunked_content_provider(
      "text/event-stream",
      [this, reader](std::size_t, httplib::DataSink& sink) { return Next(*reader, sink); },
      [open = open_, released](bool) {
        if (!released->exchange(true)) --*open;
      });
  return true;
}

bool EventStreams::Replay(std::int64_t after, std::int64_t upTo, httplib::DataSink& sink) {
  for (;;) {
    const auto events = station_.Journal().EventsAfter(after, upTo, kReplayPage);
    std::string out;
    for (const auto& event : events) out += EventText(event);
    if (!out.empty() && !sink.write(out.data(), out.size())) return false;
    if (events.size() < static_cast<std::size_t>(kReplayPage)) return true;
    after = events.back().id;
  }
}

bool EventStreams::Next(Reader& reader, httplib::DataSink& sink) {
  EventHub& hub = station_.Events();
  std::string out;
  if (!reader.started) {
    reader.started = true;
    const auto lines = station_.Lines();
    std::size_t count = 0;
    for (LineWorker* line : lines) count += line->Views().size();
    // Ids first, views after: whatever changes meanwhile comes later with a
    // larger id.
    const std::int64_t first = hub.ReserveIds(static_cast<int>(count));
    if (reader.resumeAfter && !Replay(*reader.resumeAfter, first - 1, sink)) return false;
    std::int64_t id = first;
    for (LineWorker* line : lines) {
      for (const auto& view : line->Views()) {
        if (id >= first + static_cast<std::int64_t>(count)) break;
        out += EventText({id++, kDispenserEvent, DispenserEventData(view)});
      }
    }
    reader.lastSent = first + static_cast<std::int64_t>(count) - 1;
    return sink.write(out.data(), out.size());
  }
  bool lost = false;
  const auto events = hub.Wait(reader.lastSent, kKeepAliveComment, lost);
  if (hub.Closed()) return false;
  if (lost) {
    // Too slow a reader: fills and prices come again from the database.
    const std::int64_t upTo = events.empty() ? hub.LastId() : events.front().id - 1;
    if (!Replay(reader.lastSent, upTo, sink)) return false;
    reader.lastSent = std::max(reader.lastSent, upTo);
  }
  for (const auto& event : events) {
    out += EventText(event);
    reader.lastSent = event.id;
  }
  if (out.empty()) out = ": keep-alive\n\n";
  return sink.write(out.data(), out.size());
}

}  // namespace quorlan::station
