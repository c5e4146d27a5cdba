// SPDX-License-Identifier: Apache-2.0
#pragma once
// A server on a free loopback port with a small router of known behaviour:
//   POST /echo     200 "length=N" (N the body's size); other methods: 405, Allow: POST
//   GET  /page     200 with the router's own Cache-Control and Content-Security-Policy;
//                  other methods: 405, Allow: GET
//   GET  /events   an event stream owned by the X-Owner header's value
//   GET  /throw    the route throws
// Anything else is left unanswered (404).

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "station/http/Server.h"

namespace quorlan::http::test {

class TestService {
 public:
  explicit TestService(ServerOptions options);
  ~TestService() { server.Stop(); }

  std::uint16_t Port() const { return server.Port(); }
  // The streams opened so far, oldest first.
  std::vector<std::shared_ptr<EventStream>> Streams();
  // How often the observer saw this route answered with this status.
  int Counted(const std::string& route, unsigned status);

  Server server;

 private:
  void Route(const Request& request, Answer& answer);

  std::mutex mutex_;
  std::vector<std::shared_ptr<EventStream>> streams_;
  std::map<std::pair<std::string, unsigned>, int> counted_;
};

// Waits, with a generous deadline, for the condition to hold.
bool Eventually(const std::function<bool()>& condition);

}  // namespace quorlan::http::test
