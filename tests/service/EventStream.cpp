#include "EventStream.h"

#include <nlohmann/json.hpp>

namespace quorlan::service_test {

EventStream::EventStream(int port, const std::string& secret, StreamOptions options)
    : keepData_(options.keepData) {
  thread_ = std::thread([this, port, secret, resumeAfter = options.resumeAfter] {
    httplib::Client client("127.0.0.1", port);
    client.set_bearer_token_auth(secret);
    client.set_read_timeout(std::chrono::seconds(60));
    httplib::Headers headers;
    if (resumeAfter) headers.emplace("Last-Event-ID", std::to_string(*resumeAfter));
    client.Get(
        "/api/v1/events", headers,
        [this](const httplib::Response& response) {
          status_ = response.status;
          return response.status == 200 && !closing_;
        },
        [this](const char* data, std::size_t length) {
          pending_.append(data, length);
          for (auto end = pending_.find("\n\n"); end != std::string::npos;
               end = pending_.find("\n\n")) {
            Take(pending_.substr(0, end));
            pending_.erase(0, end + 2);
          }
          return !closing_.load();
        });
    ended_ = true;
  });
}

EventStream::~EventStream() {
  Close();
}

void EventStream::Close() {
  closing_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<std::int64_t> EventStream::Ids() const {
  std::lock_guard lock(mutex_);
  return ids_;
}

std::vector<std::int64_t> EventStream::FillIds() const {
  std::lock_guard lock(mutex_);
  return fillIds_;
}

std::vector<std::string> EventStream::LineEvents() const {
  std::lock_guard lock(mutex_);
  return lineEvents_;
}

std::vector<nlohmann::json> EventStream::FillEvents() const {
  std::lock_guard lock(mutex_);
  return fillEvents_;
}

std::vector<nlohmann::json> EventStream::AlarmEvents() const {
  std::lock_guard lock(mutex_);
  return alarmEvents_;
}

std::string EventStream::Fault() const {
  std::lock_guard lock(mutex_);
  return fault_;
}

void EventStream::Take(const std::string& block) {
  if (block.rfind(":", 0) == 0) return;  // a keep-alive comment
  std::int64_t id = -1;
  std::string name, data;
  std::size_t start = 0;
  while (start < block.size()) {
    auto end = block.find('\n', start);
    if (end == std::string::npos) end = block.size();
    const std::string line = block.substr(start, end - start);
    start = end + 1;
    if (line.rfind("id: ", 0) == 0) id = std::stoll(line.substr(4));
    if (line.rfind("event: ", 0) == 0) name = line.substr(7);
    if (line.rfind("data: ", 0) == 0) data = line.substr(6);
  }
  std::lock_guard lock(mutex_);
  if (id <= lastId_ || name.empty() || data.empty()) {
    if (fault_.empty()) {
      fault_ = "after id " + std::to_string(lastId_) + " came: " + block;
    }
    return;
  }
  lastId_ = id;
  ids_.push_back(id);
  ++events_;
  if (!keepData_) return;
  if (name == "line") lineEvents_.push_back(data);
  if (name == "fill") {
    fillEvents_.push_back(nlohmann::json::parse(data));
    fillIds_.push_back(fillEvents_.back()["id"].get<std::int64_t>());
  }
  if (name == "alarm") alarmEvents_.push_back(nlohmann::json::parse(data));
}

}  // namespace quorlan::service_test
