// SPDX-License-Identifier: Apache-2.0
#include "station/http/Answer.h"

#include "station/http/StreamRegistry.h"

namespace quorlan::http {

Answer::Answer(const Request& request, std::shared_ptr<StreamRegistry> streams,
               std::size_t stream_buffer_limit)
    : request_(request), streams_(std::move(streams)), stream_buffer_limit_(stream_buffer_limit) {}

void Answer::Respond(Response response) {
  if (stream_) stream_->Ended();
  stream_.reset();
  response_ = std::move(response);
}

void Answer::Respond(unsigned status, Headers headers, std::string body) {
  Respond(Response{status, std::move(headers), std::move(body)});
}

void Answer::NotAllowed(const std::vector<std::string>& methods) {
  std::string allow;
  for (const auto& method : methods) {
    if (!allow.empty()) allow += ", ";
    allow += method;
  }
  auto response = Problem(405, "this path does not take this method");
  response.headers.emplace_back("Allow", std::move(allow));
  Respond(std::move(response));
}

std::shared_ptr<EventStream> Answer::Stream(Headers headers, std::string owner) {
  auto stream =
      streams_->Open({request_.client, request_.target, std::move(owner)}, stream_buffer_limit_);
  if (!stream) {
    Respond(Problem(503, "too many event streams are open"));
    return nullptr;
  }
  if (FindHeader(headers, "Content-Type").empty()) {
    headers.emplace_back("Content-Type", "text/event-stream");
  }
  response_ = Response{200, std::move(headers), {}};
  stream_ = stream;
  return stream;
}

}  // namespace quorlan::http
