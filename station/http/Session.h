// SPDX-License-Identifier: Apache-2.0
#pragma once
// One connection, plain or TLS: reads a request under its deadlines, hands it
// to the route pool, writes the answer, and then either waits (idle deadline)
// for the next request or carries an event stream until either side ends it.
// A connection past a limit is only told 503 and closed. HEAD is answered for
// every GET route: the route sees a GET, and the client gets its head alone.

#include <algorithm>
#include <array>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/stream_base.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "station/http/Context.h"
#include "station/http/Framing.h"

namespace quorlan::http {

template <class Stream>
class Session : public std::enable_shared_from_this<Session<Stream>> {
 public:
  Session(Context& context, Admission::Slot slot, Stream stream)
      : context_(context), slot_(std::move(slot)), stream_(std::move(stream)) {}
  ~Session() {
    if (events_) events_->Ended();
  }

  void Start() {
    boost::asio::post(stream_.get_executor(), [self = this->shared_from_this()] { self->Run(); });
  }

 private:
  static constexpr bool kTls = !std::is_same_v<Stream, boost::beast::tcp_stream>;
  static constexpr std::size_t kReadSize = 4096;
  static constexpr std::chrono::milliseconds kLinger{2000};

  boost::beast::tcp_stream& Lowest() { return boost::beast::get_lowest_layer(stream_); }
  const ServerOptions& Options() const { return context_.options; }

  void Run() {
    if constexpr (kTls) {
      // A refused client gets no longer for its handshake than the refusal lingers.
      Lowest().expires_after(slot_.Admitted() ? Options().header_timeout
                                              : std::min(Options().header_timeout, kLinger));
      stream_.async_handshake(boost::asio::ssl::stream_base::server,
                              [self = this->shared_from_this()](boost::beast::error_code ec) {
                                if (ec) return self->Close();
                                if (!self->slot_.Admitted()) return self->Refuse();
                                self->ReadHeader(false);
                              });
    } else {
      if (!slot_.Admitted()) return Refuse();
      ReadHeader();
    }
  }

  // Past a connection limit: told so at once, before its request is read,
  // and when to come back; then closed.
  void Refuse() {
    auto refusal = Problem(503, "too many connections: try again shortly");
    refusal.headers.emplace_back("Retry-After", std::string(kRetryAfter));
    Reply(std::move(refusal), "unrouted", true);
  }

  // Between requests on a kept-alive connection: the idle deadline runs until
  // the next request's first byte, then the header deadline.
  void Next() {
    if (buffer_.size() > 0) return ReadHeader();
    Lowest().expires_after(Options().idle_timeout);
    ReadMore([](Session& self) { self.ReadHeader(); });
  }

  // Adds what the client sends next to the buffer, then goes on; a client
  // that left or ran out of time is closed.
  void ReadMore(void (*then)(Session&)) {
    stream_.async_read_some(
        buffer_.prepare(kReadSize),
        [self = this->shared_from_this(), then](boost::beast::error_code ec, std::size_t read) {
          if (ec) return self->Close();
          self->buffer_.commit(read);
          then(*self);
        });
  }

  // `rearm` false: the handshake's deadline runs on, so that the handshake
  // and the headers together get the header deadline.
  void ReadHeader(bool rearm = true) {
    origin_.clear();
    head_ = false;
    scan_ = {};
    parser_.emplace();
    parser_->body_limit(Options().body_limit);
    parser_->header_limit(static_cast<std::uint32_t>(Options().header_limit));
    if (rearm) Lowest().expires_after(Options().header_timeout);
    ReadHead();
  }

  // The head's bytes are checked as they arrive, as the parser, which
  // unfolds lines, cannot; once it is whole (or past its limit) the parser
  // reads it from the buffer.
  void ReadHead() {
    const auto received =
        std::string_view(static_cast<const char*>(buffer_.data().data()), buffer_.size());
    const auto verdict = scan_.Scan(received);
    if (verdict == HeadScan::Verdict::Malformed) {
      return Reply(Problem(400, scan_.Fault()), "unrouted", true);
    }
    if (verdict == HeadScan::Verdict::Whole || buffer_.size() > Options().header_limit) {
      return boost::beast::http::async_read_header(
          stream_, buffer_, *parser_,
          [self = this->shared_from_this()](boost::beast::error_code ec, std::size_t) {
            self->OnHeader(ec);
          });
    }
    ReadMore([](Session& self) { self.ReadHead(); });
  }

  void OnHeader(boost::beast::error_code ec) {
    if (ec) return Failed(ec);
    // Framed unsoundly: answered before any of the body is read, and closed,
    // so that nothing after the head is ever taken for a request.
    if (auto refusal = CheckFraming(parser_->get())) {
      return Reply(std::move(*refusal), "unrouted", true);
    }
    origin_ = std::string(parser_->get()[boost::beast::http::field::origin]);
    head_ = parser_->get().method() == boost::beast::http::verb::head;
    if (parser_->is_done()) return Dispatch();
    Lowest().expires_after(Options().body_timeout);
    if (boost::beast::iequals(parser_->get()[boost::beast::http::field::expect], "100-continue")) {
      // Clients that ask wait for this before they send the body.
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      boost::asio::async_write(
          stream_, boost::asio::buffer(kContinue.data(), kContinue.size()),
          [self = this->shared_from_this()](boost::beast::error_code error, std::size_t) {
            if (error) return self->Close();
            self->ReadBody();
          });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    boost::beast::http::async_read(
        stream_, buffer_, *parser_,
        [self = this->shared_from_this()](boost::beast::error_code ec, std::size_t) {
          if (ec) return self->Failed(ec);
          self->Dispatch();
        });
  }

  // A request that cannot be read whole: a client that left or ran out of
  // time is closed without a word; a malformed or oversized one is told why.
  void Failed(boost::beast::error_code ec) {
    namespace bhttp = boost::beast::http;
    if (ec == bhttp::error::body_limit) {
      return Reply(Problem(413, "the body is larger than this service takes"), "unrouted", true);
    }
    if (ec == bhttp::error::header_limit) {
      return Reply(Problem(431, "the headers are larger than this service takes"), "unrouted",
                   true);
    }
    if (ec.category() == bhttp::make_error_code(bhttp::error::bad_method).category() &&
        ec != bhttp::error::end_of_stream && ec != bhttp::error::partial_message) {
      return Reply(Problem(400, "the request is not well-formed HTTP/1.1"), "unrouted", true);
    }
    Close();
  }

  void Dispatch() {
    auto& message = parser_->get();
    keep_alive_ = message.keep_alive();
    Request request;
    // A HEAD is routed as the GET it asks the head of; Reply leaves out the body.
    request.method = head_ ? "GET" : std::string(message.method_string());
    request.target = std::string(message.target());
    const auto question = request.target.find('?');
    request.path = request.target.substr(0, question);
    if (question != std::string::npos) request.query = request.target.substr(question + 1);
    for (const auto& field : message) {
      request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    request.body = std::move(message.body());
    request.client = slot_.Client();
    parser_.reset();

    if (request.method == "OPTIONS" && context_.AllowedOrigin(origin_) &&
        !request.Header("Access-Control-Request-Method").empty()) {
      return Reply({204,
                    {{"Access-Control-Allow-Methods", Options().cors_methods},
                     {"Access-Control-Allow-Headers", Options().cors_headers},
                     {"Access-Control-Max-Age", "600"},
                     {"Cache-Control", "no-store"}},
                    {}},
                   "preflight", !keep_alive_);
    }
    if (!context_.routes) return Route(std::move(request));
    const bool urgent = context_.urgent && Options().urgent && Options().urgent(request);
    boost::asio::post(urgent ? *context_.urgent : *context_.routes,
                      [self = this->shared_from_this(), request = std::move(request)]() mutable {
                        self->Route(std::move(request));
                      });
  }

  // On the route pool, or inline on the connection's strand without one.
  void Route(Request request) {
    Answer answer(request, context_.streams, Options().stream_buffer_limit);
    try {
      context_.router(request, answer);
    } catch (...) {
      answer.Respond(Problem(500, "the request could not be answered"));
    }
    if (!answer.Given()) answer.Respond(Problem(404, "no such resource"));
    std::string route = answer.Route().empty() ? "other" : answer.Route();
    auto finish = [self = this->shared_from_this(), response = *answer.Given(),
                   stream = answer.Opened(), route = std::move(route)]() mutable {
      if (stream) return self->StartStream(std::move(response), stream, route);
      self->Reply(std::move(response), route, !self->keep_alive_);
    };
    if (!context_.routes) return finish();  // already on the connection's strand
    boost::asio::post(stream_.get_executor(), std::move(finish));
  }

  // The headers every answer carries, whatever the route gave, in place of
  // any the route set itself.
  void Decorate(Headers& headers) const {
    for (const auto name :
         {"X-Content-Type-Options", "Referrer-Policy", "Date", "Strict-Transport-Security"}) {
      Drop(headers, name);
    }
    headers.emplace_back("X-Content-Type-Options", "nosniff");
    headers.emplace_back("Referrer-Policy", "no-referrer");
    headers.emplace_back("Date", HttpDate(std::chrono::system_clock::now()));
    if constexpr (kTls) headers.emplace_back("Strict-Transport-Security", kStrictTransport);
    if (context_.AllowedOrigin(origin_)) {
      headers.emplace_back("Access-Control-Allow-Origin", origin_);
      headers.emplace_back("Vary", "Origin");
    }
    // Every GET is also a HEAD here, so a path that takes one takes both.
    for (auto& [name, value] : headers) {
      if (boost::beast::iequals(name, "Allow") && ListHolds(value, "GET") &&
          !ListHolds(value, "HEAD")) {
        value += ", HEAD";
      }
    }
  }

  static void Drop(Headers& headers, std::string_view name) {
    std::erase_if(headers,
                  [name](const auto& header) { return boost::beast::iequals(header.first, name); });
  }

  void Reply(Response response, const std::string& route, bool close) {
    if (closed_) return;
    context_.Count(route, response.status);
    Decorate(response.headers);
    answer_ = {};
    answer_.version(11);
    answer_.result(response.status);
    for (auto& [name, value] : response.headers) answer_.insert(name, value);
    answer_.body() = std::move(response.body);
    answer_.keep_alive(!close);
    answer_.prepare_payload();
    // The GET's Content-Length stays, as RFC 9110 has it.
    if (head_) answer_.body().clear();
    Lowest().expires_after(Options().body_timeout);
    boost::beast::http::async_write(
        stream_, answer_,
        [self = this->shared_from_this(), close](boost::beast::error_code ec, std::size_t) {
          if (ec) return self->Close();
          if (close) return self->Linger();
          self->Next();
        });
  }

  // The stream's body runs until the connection closes, so it needs neither a
  // length nor chunks; the client's bytes are only watched for its leaving.
  // A HEAD gets the stream's head and no stream.
  void StartStream(Response head, std::shared_ptr<EventStream> stream, const std::string& route) {
    if (closed_ || head_) stream->Ended();
    if (closed_) return;
    context_.Count(route, head.status);
    Drop(head.headers, "Connection");
    Drop(head.headers, "Content-Length");
    Decorate(head.headers);
    if (FindHeader(head.headers, "Cache-Control").empty()) {
      head.headers.emplace_back("Cache-Control", "no-store");
    }
    head.headers.emplace_back("Connection", "close");
    out_ = "HTTP/1.1 200 OK\r\n";
    for (const auto& [name, value] : head.headers) out_ += name + ": " + value + "\r\n";
    out_ += "\r\n";
    if (head_) {
      Lowest().expires_after(Options().body_timeout);
      boost::asio::async_write(
          stream_, boost::asio::buffer(out_),
          [self = this->shared_from_this()](boost::beast::error_code ec, std::size_t) {
            if (ec) return self->Close();
            self->Linger();
          });
      return;
    }

    events_ = std::move(stream);
    Lowest().expires_never();
    std::weak_ptr<Session> weak = this->shared_from_this();
    auto executor = stream_.get_executor();
    events_->Attach(
        [weak, executor] {
          boost::asio::post(executor, [weak] {
            if (auto self = weak.lock()) self->Flush();
          });
        },
        [weak, executor] {
          boost::asio::post(executor, [weak] {
            if (auto self = weak.lock()) self->Close();
          });
        });
    Watch();
    WriteOut();
  }

  void Flush() {
    if (closed_) return;
    if (events_->Take(out_)) WriteOut();
  }

  void WriteOut() {
    boost::asio::async_write(
        stream_, boost::asio::buffer(out_),
        [self = this->shared_from_this()](boost::beast::error_code ec, std::size_t) {
          if (ec) return self->Close();
          self->out_.clear();
          self->Flush();
        });
  }

  void Watch() {
    stream_.async_read_some(
        boost::asio::buffer(scratch_),
        [self = this->shared_from_this()](boost::beast::error_code ec, std::size_t) {
          if (ec) return self->Close();
          self->Watch();
        });
  }

  // Closing with the client's bytes unread would reset the connection and
  // could destroy the answer before the client reads it: stop sending, then
  // read and drop what still comes, for a little while.
  void Linger() {
    boost::beast::error_code ignored;
    Lowest().socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
    Lowest().expires_after(std::min<std::chrono::milliseconds>(Options().body_timeout, kLinger));
    Drain();
  }

  void Drain() {
    Lowest().async_read_some(
        boost::asio::buffer(scratch_),
        [self = this->shared_from_this()](boost::beast::error_code ec, std::size_t) {
          if (ec) return self->Close();
          self->Drain();
        });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    if (events_) events_->Ended();
    boost::beast::error_code ignored;
    Lowest().socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    Lowest().close();
  }

  Context& context_;
  Admission::Slot slot_;
  Stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  boost::beast::http::response<boost::beast::http::string_body> answer_;
  HeadScan scan_;
  std::string origin_;
  bool head_ = false;  // the request is a HEAD
  bool keep_alive_ = false;
  bool closed_ = false;
  std::shared_ptr<EventStream> events_;
  std::string out_;
  std::array<char, 256> scratch_{};
};

}  // namespace quorlan::http
