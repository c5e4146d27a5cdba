// SPDX-License-Identifier: Apache-2.0
// The front door against requests well and badly formed, clients that
// trickle or stall, and clients that hold many connections.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "RawClient.h"
#include "TestService.h"

namespace quorlan::http::test {
namespace {

constexpr auto kOrigin = "https://till.example";

ServerOptions Quick() {
  ServerOptions options;
  options.header_timeout = 300ms;
  options.body_timeout = 300ms;
  options.idle_timeout = 300ms;
  options.cors_origins = {kOrigin};
  return options;
}

struct AnswerCase {
  const char* name;
  std::string request;
  unsigned status;
  const char* header = nullptr;  // checked when set
  const char* value = nullptr;   // nullptr: the header must be absent
  const char* body = nullptr;    // checked when set
};

TEST(FrontDoor, AnswersEveryKindOfRequestWithItsStatusAndTheSecurityHeaders) {
  TestService service(Quick());
  const std::string big(64 * 1024 + 1, 'x');
  const std::vector<AnswerCase> cases = {
      {"body-less POST without Content-Length", "POST /echo HTTP/1.1\r\nHost: a\r\n\r\n", 200,
       nullptr, nullptr, "length=0"},
      {"POST with a body", "POST /echo HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", 200, nullptr,
       nullptr, "length=5"},
      {"chunked POST",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 200,
       nullptr, nullptr, "length=3"},
      {"a client that waits for 100 Continue",
       "POST /echo HTTP/1.1\r\nContent-Length: 2\r\nExpect: 100-continue\r\n\r\nok", 200, nullptr,
       nullptr, "length=2"},
      {"body of exactly the limit",
       "POST /echo HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + big.substr(1), 200, nullptr,
       nullptr, "length=65536"},
      {"Content-Length past the limit", "POST /echo HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", 413,
       "Content-Type", "application/problem+json"},
      {"chunks past the limit",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n10001\r\n" + big.substr(0, 100),
       413},
      {"known path, other method", "GET /echo HTTP/1.1\r\n\r\n", 405, "Allow", "POST"},
      {"a path that takes GET takes HEAD", "POST /page HTTP/1.1\r\n\r\n", 405, "Allow",
       "GET, HEAD"},
      {"unknown path", "GET /nowhere HTTP/1.1\r\n\r\n", 404},
      {"a route that throws", "GET /throw HTTP/1.1\r\n\r\n", 500},
      {"not HTTP", "HELLO THERE\r\n\r\n", 400},
      {"a bad Content-Length", "POST /echo HTTP/1.1\r\nContent-Length: -4\r\n\r\n", 400},
      {"headers past their limit",
       "GET /page HTTP/1.1\r\nX-Pad: " + std::string(20 * 1024, 'p') + "\r\n\r\n", 431},
      {"the router's own policy headers pass", "GET /page HTTP/1.1\r\n\r\n", 200,
       "Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
      {"an origin not allowed gets no CORS",
       "GET /page HTTP/1.1\r\nOrigin: https://elsewhere.example\r\n\r\n", 200,
       "Access-Control-Allow-Origin", nullptr},
      {"an allowed origin gets CORS", "GET /page HTTP/1.1\r\nOrigin: https://till.example\r\n\r\n",
       200, "Access-Control-Allow-Origin", kOrigin},
      {"preflight from an allowed origin",
       "OPTIONS /echo HTTP/1.1\r\nOrigin: https://till.example\r\n"
       "Access-Control-Request-Method: POST\r\n\r\n",
       204, "Access-Control-Allow-Origin", kOrigin},
      {"a preflight is not stored",
       "OPTIONS /echo HTTP/1.1\r\nOrigin: https://till.example\r\n"
       "Access-Control-Request-Method: POST\r\n\r\n",
       204, "Cache-Control", "no-store"},
      {"preflight from another origin goes to the router",
       "OPTIONS /echo HTTP/1.1\r\nOrigin: https://elsewhere.example\r\n"
       "Access-Control-Request-Method: POST\r\n\r\n",
       405, "Access-Control-Allow-Origin", nullptr},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    RawClient client(service.Port());
    ASSERT_TRUE(client.Send(test.request));
    const auto reply = client.Read();
    EXPECT_EQ(reply.status, test.status) << reply.head;
    EXPECT_EQ(reply.Header("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(reply.Header("Referrer-Policy"), "no-referrer");
    EXPECT_TRUE(reply.Header("Date").ends_with(" GMT")) << reply.head;
    EXPECT_FALSE(reply.Has("Strict-Transport-Security"));  // not over plain HTTP
    if (test.header && test.value) {
      EXPECT_EQ(reply.Header(test.header), test.value);
    }
    if (test.header && !test.value) {
      EXPECT_FALSE(reply.Has(test.header)) << reply.head;
    }
    if (test.body) {
      EXPECT_EQ(reply.body, test.body);
    }
  }
  EXPECT_EQ(service.Counted("/echo", 405), 2);
  EXPECT_EQ(service.Counted("/page", 405), 1);
  EXPECT_EQ(service.Counted("unrouted", 413), 2);
  EXPECT_EQ(service.Counted("other", 404), 1);
}

// Requests one after another, and two in one write, on one connection.
void KeepAlive(const ServerOptions& options) {
  TestService service(options);
  RawClient client(service.Port());
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(client.Send("POST /echo HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.Read().status, 200u);
  }
  // Two requests in one write: both answered, in order.
  ASSERT_TRUE(
      client.Send("GET /page HTTP/1.1\r\n\r\nPOST /echo HTTP/1.1\r\nContent-Length: 1\r\n\r\nx"));
  EXPECT_EQ(client.Read().body, "<p>page</p>");
  EXPECT_EQ(client.Read().body, "length=1");
}

TEST(FrontDoor, KeepsAConnectionAliveAcrossRequestsWithRoutesOnTheirPoolOrInline) {
  for (const unsigned handler_threads : {4u, 0u}) {
    SCOPED_TRACE(handler_threads);
    auto options = Quick();
    options.handler_threads = handler_threads;
    KeepAlive(options);
  }
}

TEST(FrontDoor, HeadIsTheGetWithoutItsBodyOnEveryPath) {
  TestService service(Quick());
  struct HeadCase {
    const char* path;
    unsigned status;
  };
  const HeadCase cases[] = {{"/page", 200}, {"/nowhere", 404}, {"/echo", 405}, {"/throw", 500}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.path);
    RawClient client(service.Port());
    ASSERT_TRUE(client.Send(std::string("GET ") + test.path + " HTTP/1.1\r\n\r\n"));
    const auto get = client.Read();
    ASSERT_TRUE(client.Send(std::string("HEAD ") + test.path + " HTTP/1.1\r\n\r\n"));
    const auto head = client.ReadHead();
    EXPECT_EQ(head.status, test.status) << head.head;
    EXPECT_EQ(head.status, get.status);
    for (const auto* name : {"Content-Length", "Content-Type", "Cache-Control", "Allow",
                             "Content-Security-Policy", "X-Content-Type-Options"}) {
      EXPECT_EQ(head.Header(name), get.Header(name)) << name;
    }
    EXPECT_FALSE(get.body.empty());
    // Had the body followed the head, this answer would start with it.
    ASSERT_TRUE(client.Send("GET /page HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.Read().body, "<p>page</p>");
  }
  {
    SCOPED_TRACE("an event stream's head, and no stream");
    RawClient client(service.Port());
    ASSERT_TRUE(client.Send("HEAD /events HTTP/1.1\r\n\r\n"));
    const auto head = client.ReadHead();
    EXPECT_EQ(head.status, 200u);
    EXPECT_EQ(head.Header("Content-Type"), "text/event-stream");
    EXPECT_EQ(head.Header("Cache-Control"), "no-store");
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_TRUE(Eventually([&] { return service.server.Stats().streams == 0; }));
    EXPECT_FALSE(service.Streams().front()->IsOpen());
  }
  EXPECT_EQ(service.Counted("/page", 200), 6);
}

TEST(FrontDoor, AnUrgentRequestIsAnsweredWhileSlowRoutesHoldEveryThread) {
  ServerOptions options;
  options.handler_threads = 1;
  options.urgent = [](const Request& request) { return request.path == "/stop"; };
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> holding = false;
  Server server(options, [&](const Request& request, Answer& answer) {
    if (request.path == "/slow") {
      holding = true;
      released.wait();
    }
    answer.Respond(200, {}, request.path);
  });
  server.Start();

  RawClient slow(server.Port());
  EXPECT_TRUE(slow.Send("GET /slow HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_TRUE(Eventually([&] { return holding.load(); }));
  RawClient stop(server.Port());
  EXPECT_TRUE(stop.Send("POST /stop HTTP/1.1\r\nHost: x\r\n\r\n"));
  const RawReply stopped = stop.Read();
  EXPECT_EQ(stopped.status, 200U) << "the stop waited behind the slow route";
  release.set_value();
  EXPECT_EQ(slow.Read().status, 200U);
  server.Stop();
}

TEST(FrontDoor, ClosesClientsThatRunOutOfTime) {
  TestService service(Quick());
  {
    SCOPED_TRACE("headers trickled a byte at a time never finish");
    RawClient client(service.Port());
    ASSERT_TRUE(client.Send("GET /page HTTP/1.1\r\nX-Slow: "));
    bool closed = false;
    for (int i = 0; i < 1000 && !closed; ++i) {
      closed = client.WaitClosed(20ms) || !client.Send("a");
    }
    EXPECT_TRUE(closed);
  }
  {
    SCOPED_TRACE("a connection that never sends");
    RawClient client(service.Port());
    EXPECT_TRUE(client.WaitClosed());
  }
  {
    SCOPED_TRACE("a body that stops halfway");
    RawClient client(service.Port());
    ASSERT_TRUE(client.Send("POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\n0123456789"));
    EXPECT_EQ(client.Read().status, 0u);
    EXPECT_TRUE(client.WaitClosed());
  }
  {
    SCOPED_TRACE("a kept-alive connection left idle");
    RawClient client(service.Port());
    ASSERT_TRUE(client.Send("GET /page HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.Read().status, 200u);
    EXPECT_TRUE(client.WaitClosed());
  }
  EXPECT_TRUE(Eventually([&] { return service.server.Stats().connections == 0; }));
}

struct LimitCase {
  const char* name;
  std::size_t max_connections;
  std::size_t per_client;
  std::size_t refusals;
  const char* newcomer;  // the address the next connection comes from
  unsigned status;       // 0: closed unanswered
};

TEST(FrontDoor, ConnectionsPastALimitAreToldToComeBackWhileOtherClientsAreServed) {
  const std::vector<LimitCase> cases = {
      {"the holder's next connection", 256, 4, 32, "127.0.0.1", 503},
      {"another client past the holder's limit", 256, 4, 32, "127.0.0.2", 200},
      {"another client past the total", 4, 32, 32, "127.0.0.2", 503},
      {"past the limit in a flood", 256, 4, 0, "127.0.0.1", 0},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    auto options = Quick();
    options.header_timeout = 60s;  // the holders stay until the case is done
    options.max_connections = test.max_connections;
    options.max_connections_per_client = test.per_client;
    options.max_refusals = test.refusals;
    TestService service(options);
    std::vector<std::unique_ptr<RawClient>> holders;
    for (int i = 0; i < 4; ++i) {
      holders.push_back(std::make_unique<RawClient>(service.Port()));
      ASSERT_TRUE(holders.back()->Send("GET /page HTTP/1.1\r\nX-Slow: "));
    }
    ASSERT_TRUE(Eventually([&] { return service.server.Stats().connections == 4; }));
    RawClient newcomer(service.Port(), test.newcomer);
    ASSERT_TRUE(newcomer.Connected());
    newcomer.Send("GET /page HTTP/1.1\r\n\r\n");  // may find the connection closed
    const auto reply = newcomer.Read();
    EXPECT_EQ(reply.status, test.status) << reply.head;
    if (test.status == 503) {
      EXPECT_EQ(reply.Header("Retry-After"), "1");
      EXPECT_EQ(reply.Header("Connection"), "close");
    }
    EXPECT_EQ(service.server.Stats().rejected_connections, test.status == 200 ? 0u : 1u);
    EXPECT_EQ(service.server.Stats().dropped_connections, test.status == 0 ? 1u : 0u);
    if (test.status != 200) {
      EXPECT_TRUE(newcomer.WaitClosed());
    }
    // The slots come back when the holders leave.
    holders.clear();
    EXPECT_TRUE(Eventually([&] { return service.server.Stats().connections <= 1; }));
    RawClient later(service.Port(), test.newcomer);
    ASSERT_TRUE(later.Send("GET /page HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(later.Read().status, 200u);
  }
}

TEST(FrontDoor, ASecondServerOnTheSameAddressFailsToStart) {
  TestService first(Quick());
  auto options = Quick();
  options.port = first.Port();
  Server second(options, [](const Request&, Answer&) {});
  try {
    second.Start();
    FAIL() << "the second server started";
  } catch (const ListenError& error) {
    EXPECT_NE(std::string(error.what()).find("address in use"), std::string::npos) << error.what();
  }
  // The first still answers.
  RawClient client(first.Port());
  ASSERT_TRUE(client.Send("GET /page HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(client.Read().status, 200u);

  auto bad = Quick();
  bad.address = "not-an-address";
  EXPECT_THROW(Server(bad, [](const Request&, Answer&) {}).Start(), ListenError);
}

}  // namespace
}  // namespace quorlan::http::test
