// SPDX-License-Identifier: Apache-2.0
#pragma once
// A request as the routes see it and the answer they give, free of the HTTP
// library underneath.

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorlan::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

// The value of the first header called `name` (any case); empty when absent.
std::string_view FindHeader(const Headers& headers, std::string_view name);
// Whether a header called `name` (any case) was sent at all, even empty.
bool HasHeader(const Headers& headers, std::string_view name);

struct Request {
  std::string method;  // as sent, e.g. "POST"
  std::string target;  // path and query, as sent
  std::string path;    // target before '?'
  std::string query;   // target after '?', empty without one
  Headers headers;
  std::string body;    // empty for a request without a body
  std::string client;  // the peer's address, e.g. "127.0.0.1"

  std::string_view Header(std::string_view name) const { return FindHeader(headers, name); }
  bool Has(std::string_view name) const { return HasHeader(headers, name); }
};

struct Response {
  unsigned status = 200;
  Headers headers;
  std::string body;
};

// A connection past a limit is told to come back after this many seconds.
inline constexpr std::string_view kRetryAfter = "1";
// Browsers that once reached the service over HTTPS never try plain HTTP
// for it again, for two years.
inline constexpr std::string_view kStrictTransport = "max-age=63072000";

// application/problem+json for the answers the front door gives by itself.
Response Problem(unsigned status, std::string_view detail);

// The elements of a comma-separated header value, e.g. "GET, POST", without
// their surrounding spaces; empty elements are skipped.
std::vector<std::string_view> ListItems(std::string_view value);
// Whether such a list holds `item` (any case).
bool ListHolds(std::string_view value, std::string_view item);

// An instant as a Date header gives it: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::chrono::system_clock::time_point when);

}  // namespace quorlan::http
