// SPDX-License-Identifier: Apache-2.0
// Event streams: delivery from any thread, the heartbeat, the bound on open
// streams, closing by owner, and a client that never reads.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RawClient.h"
#include "TestService.h"

namespace quorlan::http::test {
namespace {

ServerOptions Streaming() {
  ServerOptions options;
  options.max_streams = 2;
  options.stream_heartbeat = 50ms;
  options.stream_buffer_limit = 64 * 1024;
  return options;
}

// Opens a stream as `owner` and reads up to the route's greeting.
std::unique_ptr<RawClient> Subscribe(TestService& service, const std::string& owner,
                                     unsigned* status = nullptr) {
  auto client = std::make_unique<RawClient>(service.Port());
  client->Send("GET /events HTTP/1.1\r\nX-Owner: " + owner + "\r\n\r\n");
  const auto reply = client->Read();
  if (status) *status = reply.status;
  if (reply.status == 200) {
    EXPECT_EQ(reply.Header("Content-Type"), "text/event-stream");
    EXPECT_EQ(reply.Header("Cache-Control"), "no-store");
    EXPECT_EQ(reply.Header("X-Content-Type-Options"), "nosniff");
    EXPECT_TRUE(client->ReadUntil("event: hello\ndata: {}\n\n"));
  }
  return client;
}

TEST(EventStreams, DeliverEventsFromOtherThreadsAndKeepIdleStreamsAlive) {
  TestService service(Streaming());
  auto client = Subscribe(service, "till-1");
  ASSERT_TRUE(Eventually([&] { return service.Streams().size() == 1; }));
  auto stream = service.Streams().front();
  std::thread publisher([&] {
    EXPECT_TRUE(stream->Send("dispenser", "{\"a\":1}\n{\"b\":2}", "7"));
    EXPECT_TRUE(stream->Send("line\nevent: forged", "{}", "8"));
  });
  publisher.join();
  EXPECT_TRUE(client->ReadUntil("id: 7\nevent: dispenser\ndata: {\"a\":1}\ndata: {\"b\":2}\n\n"));
  // A line break cannot smuggle a field into the frame.
  EXPECT_TRUE(client->ReadUntil("id: 8\nevent: lineevent: forged\ndata: {}\n\n"));
  EXPECT_TRUE(client->ReadUntil(": \n\n"));  // the heartbeat's comment
}

TEST(EventStreams, BoundedInNumberAndClosedByOwnerOrByTheClient) {
  TestService service(Streaming());
  auto first = Subscribe(service, "till-1");
  auto second = Subscribe(service, "till-2");
  unsigned status = 0;
  auto third = Subscribe(service, "till-3", &status);
  EXPECT_EQ(status, 503u);
  EXPECT_EQ(service.Counted("/events", 503), 1);

  // A withdrawn token's streams close; the others go on.
  EXPECT_EQ(
      service.server.CloseStreams([](const StreamInfo& info) { return info.owner == "till-1"; }),
      1u);
  EXPECT_TRUE(first->WaitClosed());
  EXPECT_FALSE(service.Streams()[0]->Send("fill", "{}"));
  EXPECT_TRUE(service.Streams()[1]->Send("fill", "{}"));
  EXPECT_TRUE(second->ReadUntil("event: fill\n"));

  // A client that leaves gives its place back.
  second.reset();
  ASSERT_TRUE(Eventually([&] { return service.server.Stats().streams == 0; }));
  EXPECT_TRUE(Eventually([&] { return !service.Streams()[1]->IsOpen(); }));
  auto fourth = Subscribe(service, "till-4", &status);
  EXPECT_EQ(status, 200u);
}

TEST(EventStreams, AClientThatNeverReadsIsDroppedWithoutHoldingUpThePublisher) {
  TestService service(Streaming());
  auto sleeper = Subscribe(service, "sleeper");  // reads nothing from here on
  auto reader = Subscribe(service, "reader");
  ASSERT_TRUE(Eventually([&] { return service.Streams().size() == 2; }));
  const auto streams = service.Streams();
  const std::string data(1024, 'v');
  // Paced by the reader, so the sleeper's queue grows only once the kernel's
  // buffers towards it are full: a burst is not what drops it.
  std::size_t sent = 0;
  while (sent < 256 * 1024 && streams[0]->Send("dispenser", data)) {
    ++sent;
    ASSERT_TRUE(streams[1]->Send("tick", std::to_string(sent)));
    ASSERT_TRUE(reader->ReadUntil("data: " + std::to_string(sent) + "\n"));
  }
  EXPECT_FALSE(streams[0]->IsOpen());
  // Dropped only once its queue would pass the limit, never before; how much
  // the kernel took on top depends on the machine.
  EXPECT_GE((sent + 1) * data.size(), Streaming().stream_buffer_limit);
  EXPECT_TRUE(sleeper->WaitClosed(30s));
  EXPECT_FALSE(streams[0]->WaitQueuedBelow(0, 10ms));
  EXPECT_TRUE(streams[1]->Send("tick", "after"));
  EXPECT_TRUE(streams[1]->WaitQueuedBelow(0, 10s));
  EXPECT_TRUE(reader->ReadUntil("data: after\n"));
  EXPECT_TRUE(Eventually([&] { return service.server.Stats().streams == 1; }));
}

TEST(EventStreams, WritesAfterTheServerStoppedReachNothing) {
  auto service = std::make_unique<TestService>(Streaming());
  auto client = Subscribe(*service, "till-1");
  ASSERT_TRUE(Eventually([&] { return service->Streams().size() == 1; }));
  auto stream = service->Streams().front();
  service->server.Stop();
  EXPECT_FALSE(stream->Send("fill", "{}"));
  EXPECT_TRUE(client->WaitClosed());
  service.reset();
  EXPECT_FALSE(stream->Send("fill", "{}"));
}

}  // namespace
}  // namespace quorlan::http::test
