#pragma once
// A client of the service's event stream on its own thread: keeps every
// event's id and the ids of the fills it announced.

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorlan::service_test {

struct StreamOptions {
  // Sent as Last-Event-ID: the service replays what it stored after it.
  std::optional<std::int64_t> resumeAfter;
  // Parses and keeps the data of fills, lines and alarms; a client of a long
  // replay counts ids only, or the test would hold the whole history.
  bool keepData = true;
};

class EventStream {
 public:
  EventStream(int port, const std::string& secret, StreamOptions options = {});
  ~EventStream();
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;

  std::size_t Events() const { return events_; }
  // Every event's id, in the order they came.
  std::vector<std::int64_t> Ids() const;
  std::vector<std::int64_t> FillIds() const;
  // The data of every `line` event.
  std::vector<std::string> LineEvents() const;
  // The data of every `fill` and every `alarm` event, parsed.
  std::vector<nlohmann::json> FillEvents() const;
  std::vector<nlohmann::json> AlarmEvents() const;
  // An id that did not increase, a line that is not an event, a status
  // other than 200: the first such fault, or empty.
  std::string Fault() const;
  bool Ended() const { return ended_; }
  int Status() const { return status_; }
  // Lets go at the next bytes that come (Close waits for them): many streams
  // asked first end on one event.
  void Leave() { closing_ = true; }
  void Close();

 private:
  void Take(const std::string& block);

  const bool keepData_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> ended_{false};
  std::atomic<int> status_{0};
  std::atomic<std::size_t> events_{0};
  std::int64_t lastId_ = 0;
  std::string pending_;
  mutable std::mutex mutex_;
  std::vector<std::int64_t> ids_;
  std::vector<std::int64_t> fillIds_;
  std::vector<std::string> lineEvents_;
  std::vector<nlohmann::json> fillEvents_;
  std::vector<nlohmann::json> alarmEvents_;
  std::string fault_;
  std::thread thread_;
};

}  // namespace quorlan::service_test
