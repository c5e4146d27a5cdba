// SPDX-License-Identifier: Apache-2.0
// Where a request's body ends. Every case sends a request and then, in the
// same write, a whole second request: soundly framed, the second is answered
// as a request of its own; framed in any way two readers could disagree on,
// the first is refused, the connection closes, and the second never runs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RawClient.h"
#include "TestService.h"

namespace quorlan::http::test {
namespace {

constexpr auto kSecond = "GET /page HTTP/1.1\r\nHost: a\r\n\r\n";

struct FramingCase {
  const char* name;
  std::string request;
  unsigned status;
  const char* body = nullptr;  // checked when set
};

TEST(Framing, OnlyALengthOrAFinalChunkedFramesABodyAndAnythingElseClosesTheConnection) {
  ServerOptions options;
  options.body_timeout = 60s;  // a refused case must not pass by running out of time
  TestService service(options);
  const std::vector<FramingCase> sound = {
      {"Content-Length", "POST /echo HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 200, "length=3"},
      {"chunked", "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       200, "length=3"},
      {"chunked in capitals",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: CHUNKED\r\n\r\n1\r\nz\r\n0\r\n\r\n", 200,
       "length=1"},
      {"two equal Content-Lengths",
       "POST /echo HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\nabc", 200, "length=3"},
      {"a refused route keeps the framing", "PUT /echo HTTP/1.1\r\nContent-Length: 1\r\n\r\nx",
       405},
  };
  const std::vector<FramingCase> unsound = {
      {"a coding that is not chunked", "POST /echo HTTP/1.1\r\nTransfer-Encoding: xchunked\r\n\r\n",
       400},
      {"identity", "POST /echo HTTP/1.1\r\nTransfer-Encoding: identity\r\n\r\n", 400},
      {"chunked, then identity, with a Content-Length",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked, identity\r\nContent-Length: 31\r\n\r\n",
       400},
      {"Content-Length, then chunked",
       "POST /echo HTTP/1.1\r\nContent-Length: 31\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       400},
      {"chunked, then Content-Length",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n",
       400},
      {"gzip under chunked",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", 501},
      {"a list over two lines",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: identity\r\nTransfer-Encoding: chunked\r\n\r\n"
       "0\r\n\r\n",
       501},
      {"chunked twice",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked, chunked\r\n\r\n0\r\n\r\n", 400},
      {"chunked on two lines",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n"
       "0\r\n\r\n",
       400},
      {"an empty Transfer-Encoding", "POST /echo HTTP/1.1\r\nTransfer-Encoding: \r\n\r\n", 400},
      {"chunked on HTTP/1.0", "POST /echo HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       400},
      {"two Content-Lengths that differ",
       "POST /echo HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 31\r\n\r\n", 400},
      {"a Content-Length list that differs", "POST /echo HTTP/1.1\r\nContent-Length: 0, 31\r\n\r\n",
       400},
      {"a signed Content-Length", "POST /echo HTTP/1.1\r\nContent-Length: +0\r\n\r\n", 400},
      {"a space before the colon", "POST /echo HTTP/1.1\r\nTransfer-Encoding : chunked\r\n\r\n",
       400},
      {"Transfer-Encoding folded onto a second line",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding:\r\n chunked\r\n\r\n0\r\n\r\n", 400},
      {"another header folded",
       "POST /echo HTTP/1.1\r\nX-Note: a\r\n\tb\r\nContent-Length: 0\r\n\r\n", 400},
      {"bare LF line ends", "POST /echo HTTP/1.1\nContent-Length: 0\n\n", 400},
      {"one bare LF hiding a header",
       "POST /echo HTTP/1.1\r\nX-Note: a\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"a bare CR hiding a header",
       "POST /echo HTTP/1.1\r\nX-Note: a\rTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"a chunk size that is not hex",
       "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 400},
  };
  int seconds = 0;  // second requests that ran
  for (const auto* cases : {&sound, &unsound}) {
    const bool framed = cases == &sound;
    for (const auto& test : *cases) {
      SCOPED_TRACE(test.name);
      RawClient client(service.Port());
      ASSERT_TRUE(client.Send(test.request + kSecond));
      const auto reply = client.Read();
      EXPECT_EQ(reply.status, test.status) << reply.head;
      if (test.body) {
        EXPECT_EQ(reply.body, test.body);
      }
      if (framed) {
        ++seconds;
        EXPECT_EQ(client.Read().body, "<p>page</p>");
        continue;
      }
      EXPECT_EQ(reply.Header("Content-Type"), "application/problem+json");
      EXPECT_EQ(reply.Header("Connection"), "close");
      const auto second = client.Read();
      EXPECT_EQ(second.status, 0u) << "what followed the head was taken for a request\n"
                                   << second.head;
      EXPECT_TRUE(client.WaitClosed());
    }
  }
  EXPECT_EQ(service.Counted("/page", 200), seconds);
  EXPECT_EQ(service.Counted("unrouted", 400) + service.Counted("unrouted", 501),
            static_cast<int>(unsound.size()));
}

}  // namespace
}  // namespace quorlan::http::test
