// SPDX-License-Identifier: Apache-2.0
#include "TestService.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace quorlan::http::test {

TestService::TestService(ServerOptions options)
    : server(
          std::move(options),
          [this](const Request& request, Answer& answer) { Route(request, answer); },
          [this](std::string_view route, unsigned status) {
            std::lock_guard lock(mutex_);
            ++counted_[{std::string(route), status}];
          }) {
  server.Start();
}

void TestService::Route(const Request& request, Answer& answer) {
  if (request.path == "/echo") {
    answer.SetRoute("/echo");
    if (request.method != "POST") return answer.NotAllowed({"POST"});
    return answer.Respond(200, {{"Content-Type", "text/plain"}},
                          "length=" + std::to_string(request.body.size()));
  }
  if (request.path == "/page") {
    answer.SetRoute("/page");
    if (request.method != "GET") return answer.NotAllowed({"GET"});
    return answer.Respond(
        200,
        {{"Content-Type", "text/html"},
         {"Cache-Control", "no-store"},
         {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"}},
        "<p>page</p>");
  }
  if (request.path == "/events") {
    answer.SetRoute("/events");
    auto stream = answer.Stream({}, std::string(request.Header("X-Owner")));
    if (!stream) return;
    stream->Send("hello", "{}");
    std::lock_guard lock(mutex_);
    streams_.push_back(std::move(stream));
    return;
  }
  if (request.path == "/throw") throw std::runtime_error("route failed");
}

std::vector<std::shared_ptr<EventStream>> TestService::Streams() {
  std::lock_guard lock(mutex_);
  return streams_;
}

int TestService::Counted(const std::string& route, unsigned status) {
  std::lock_guard lock(mutex_);
  const auto at = counted_.find({route, status});
  return at == counted_.end() ? 0 : at->second;
}

bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

}  // namespace quorlan::http::test
