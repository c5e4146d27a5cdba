// SPDX-License-Identifier: Apache-2.0
#include "HttpServer.h"

#include <httplib.h>

namespace quorlan::hq {

namespace {

constexpr std::size_t kLargestBody = 64 * 1024;
constexpr int kReadSeconds = 10;

void Answer(httplib::Response& response, const HttpResponse& answer) {
  response.status = answer.status;
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Cache-Control", "no-store");
  response.set_content(answer.body, answer.contentType);
}

}  // namespace

HttpServer::HttpServer(Api& api) : api_(api), server_(std::make_unique<httplib::Server>()) {
  server_->set_payload_max_length(kLargestBody);
  server_->set_read_timeout(kReadSeconds, 0);
  const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
    HttpRequest converted;
    converted.method = request.method;
    converted.path = request.path;
    for (const auto& [name, value] : request.params) converted.query[name] = value;
    converted.authorization = request.get_header_value("Authorization");
    converted.body = request.body;
    Answer(response, api_.Handle(converted));
  };
  const std::string any = ".*";
  server_->Get(any, handle);
  server_->Post(any, handle);
  server_->Put(any, handle);
  server_->Delete(any, handle);
  server_->Patch(any, handle);
  server_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.status == 413) Answer(response, Problem(413, "the body is over 64 KiB"));
  });
}

HttpServer::~HttpServer() {
  Stop();
}

int HttpServer::Listen(const std::string& host, int port) {
  const int bound =
      port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
  if (bound < 0) return -1;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return bound;
}

void HttpServer::Stop() {
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

}  // namespace quorlan::hq
