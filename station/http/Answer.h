// SPDX-License-Identifier: Apache-2.0
#pragma once
// What a route gives back for one request: an answer, a 405 for a path it
// knows under other methods, or an event stream. A route that gives none of
// them leaves the request to a 404.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/http/EventStream.h"
#include "station/http/Message.h"

namespace quorlan::http {

class StreamRegistry;

class Answer {
 public:
  Answer(const Request& request, std::shared_ptr<StreamRegistry> streams,
         std::size_t stream_buffer_limit);

  void Respond(Response response);
  void Respond(unsigned status, Headers headers, std::string body);
  // 405 with `Allow` listing the methods the path takes.
  void NotAllowed(const std::vector<std::string>& methods);
  // Opens an event stream with these headers (text/event-stream unless given).
  // Null when the server holds its limit of streams; the client then gets 503.
  std::shared_ptr<EventStream> Stream(Headers headers = {}, std::string owner = {});
  // The route's name for the request counters, e.g. "/api/v1/fills/{id}", so
  // that ids in paths do not make a label each.
  void SetRoute(std::string route) { route_ = std::move(route); }

  const std::optional<Response>& Given() const { return response_; }
  const std::shared_ptr<EventStream>& Opened() const { return stream_; }
  const std::string& Route() const { return route_; }

 private:
  const Request& request_;
  std::shared_ptr<StreamRegistry> streams_;
  std::size_t stream_buffer_limit_;
  std::optional<Response> response_;
  std::shared_ptr<EventStream> stream_;
  std::string route_;
};

}  // namespace quorlan::http
