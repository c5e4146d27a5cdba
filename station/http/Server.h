// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station's HTTP front door: every connection under a whole-header
// deadline, a body deadline and an idle deadline, limits on connections in
// all and per client address, optional TLS, event streams without a thread
// each. Network work runs on one io_context with a few threads; routes run on
// a separate small pool so a slow route never holds up reading or accepting.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "station/http/Answer.h"
#include "station/http/EventStream.h"
#include "station/http/Message.h"
#include "station/http/Options.h"

namespace quorlan::http {

// Answers one request; runs on the route pool, any number at once.
using Router = std::function<void(const Request& request, Answer& answer)>;
// Called once per answered request, with the route's name (Answer::SetRoute;
// "unrouted" when the front door answered by itself) and the status.
using RequestObserver = std::function<void(std::string_view route, unsigned status)>;

// The address cannot be listened on; what() says why, e.g. "address in use: 127.0.0.1:8080".
class ListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The certificate or key cannot be used; what() names the file.
class TlsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ServerStats {
  std::size_t connections = 0;             // open now
  std::size_t streams = 0;                 // open now
  std::uint64_t rejected_connections = 0;  // past a connection limit: answered 503 or dropped
  std::uint64_t dropped_connections = 0;   // of those, closed at once unanswered (a flood)
  std::uint64_t requests = 0;              // answered
};

class Server {
 public:
  Server(ServerOptions options, Router router, RequestObserver observer = {});
  ~Server();  // stops
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Loads the certificate, binds and starts serving. Throws ListenError or TlsError.
  void Start();
  // Closes every connection and stream; waits for running routes. Idempotent.
  void Stop();

  std::uint16_t Port() const;  // the bound port, once started
  bool Tls() const;
  ServerStats Stats() const;

  // Closes the streams the predicate picks (e.g. a withdrawn token's); returns how many.
  std::size_t CloseStreams(const std::function<bool(const StreamInfo&)>& predicate);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorlan::http
