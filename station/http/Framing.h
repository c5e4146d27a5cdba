// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where a request's body ends, settled before any of it is read. Where two
// readers of the same bytes could place that end differently (a proxy and
// this service, or this service and itself on a keep-alive connection), the
// next request could hide inside this one's body. So a head's lines end in
// CRLF and never fold, and a body is framed by a Content-Length or by one
// final `chunked`, never by both and never by a coding this service does not
// take. A request that breaks this is answered and its connection closed.

#include <boost/beast/http/message.hpp>
#include <cstddef>
#include <optional>
#include <string_view>

#include "station/http/Message.h"

namespace quorlan::http {

// Watches a request's head arrive, across as many reads as it takes.
class HeadScan {
 public:
  enum class Verdict { More, Whole, Malformed };

  // `received`: what has arrived from the head's first byte on; only the
  // bytes not seen by an earlier call are looked at.
  Verdict Scan(std::string_view received);
  // Why the head is malformed, once it is.
  std::string_view Fault() const { return fault_; }

 private:
  std::size_t scanned_ = 0;
  std::string_view fault_;
};

// The answer for a head whose body cannot be framed soundly (400 or 501);
// none when it can.
std::optional<Response> CheckFraming(const boost::beast::http::request_header<>& head);

}  // namespace quorlan::http
