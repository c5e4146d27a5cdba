// SPDX-License-Identifier: Apache-2.0
#pragma once
// The front door's limits. The defaults are the service's; tests shorten the
// deadlines so that a slow client's fate shows in milliseconds.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "station/http/Message.h"

namespace quorlan::http {

struct ServerOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;  // 0: the system picks a free one (see Server::Port)

  std::size_t max_connections = 256;
  std::size_t max_connections_per_client = 32;
  // Connections past either limit are answered 503 with Retry-After and
  // closed; past this many being so answered at once (a flood), a new one is
  // closed at once, unanswered.
  std::size_t max_refusals = 32;
  // From a connection's first byte (or its acceptance) to the last header byte,
  // however slowly they trickle; a TLS handshake counts against it too.
  std::chrono::milliseconds header_timeout{10'000};
  std::chrono::milliseconds body_timeout{30'000};  // the whole body; also writing an answer
  std::chrono::milliseconds idle_timeout{5'000};   // a kept-alive connection between requests
  std::size_t body_limit = 64 * 1024;
  std::size_t header_limit = 16 * 1024;

  std::size_t max_streams = 64;
  std::chrono::milliseconds stream_heartbeat{15'000};  // a comment line keeps idle streams open
  // Bytes queued for one stream's client; past it the client is dropped, so a
  // client that never reads costs a bounded amount of memory.
  std::size_t stream_buffer_limit = 1024 * 1024;

  // Both set: HTTPS only, TLS 1.2 (AEAD suites) and up, answers with
  // Strict-Transport-Security. PEM files; the certificate file may hold the
  // whole chain.
  std::filesystem::path tls_cert;
  std::filesystem::path tls_key;

  // Origins that get CORS headers and answered preflights; nobody else does.
  std::vector<std::string> cors_origins;
  std::string cors_methods = "GET, POST, PUT, DELETE";
  std::string cors_headers = "Authorization, Content-Type, Idempotency-Key, Last-Event-ID";

  unsigned io_threads = 2;  // network work: never blocks
  // Routes run on a pool of their own, so a slow route holds no socket work
  // up; each request then crosses threads twice. 0: routes run on the network
  // threads, for routes that never wait.
  unsigned handler_threads = 4;
  // Requests this picks (e.g. an emergency stop) run on a pool of their own,
  // so that they never wait behind slow routes holding the other pool.
  std::function<bool(const Request&)> urgent;
  unsigned urgent_threads = 2;
};

}  // namespace quorlan::http
