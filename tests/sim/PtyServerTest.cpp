// The simulator on a real pseudo-terminal, spoken to with plain POSIX calls.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "SimTestSupport.h"
#include "sim/PtyServer.h"

namespace quorlan::sim::testing {
namespace {

// Generous bound so a loaded machine never fails the test; nothing is timed.
constexpr int kPatienceMs = 5000;

class PtyClient {
 public:
  explicit PtyClient(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios settings{};
    ::tcgetattr(fd_, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(fd_, TCSANOW, &settings);
  }
  ~PtyClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Open() const { return fd_ >= 0; }
  void Write(const Bytes& bytes) const {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  // Reads until `count` bytes arrived or the line stayed silent for `quietMs`.
  Bytes Read(std::size_t count, int quietMs = kPatienceMs) const {
    Bytes got;
    while (got.size() < count) {
      pollfd fd{fd_, POLLIN, 0};
      if (::poll(&fd, 1, quietMs) <= 0) break;
      std::uint8_t buffer[64];
      const auto n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  int fd_;
};

struct ServedLine {
  explicit ServedLine(PtyOptions options = {})
      : line(std::make_shared<Line>(StillLine(6))), server(line, options) {
    server.Start();
  }
  std::shared_ptr<Line> line;
  PtyServer server;
};

TEST(PtyServer, AnswersRequestsOverAPseudoTerminal) {
  ServedLine served;
  PtyClient client(served.server.SlavePath());
  ASSERT_TRUE(client.Open()) << served.server.SlavePath();
  // Garbage first, then frames full of line-control bytes: XON and XOFF in
  // the prices, CR (complement of dispenser 3's 0xF2) and LF (of dispenser
  // 6's 0xF5) in the addresses.
  client.Write(Bytes{0x00, 0x42});
  client.Write(
      RequestFrame(2 + kSecondAddressOffset, 0xA3,
                   {0x11, 0x13, 0x11, 0x13, 0x13, 0x11, 0x13, 0x11, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(client.Read(2), Pairs({0xA3}));
  client.Write(RequestFrame(3, 0xA1));
  EXPECT_EQ(client.Read(18), Pairs({0xF2, 0xA1, 0, 0, 0, 0, 0, 0, 0xA0}));
  client.Write(RequestFrame(6, 0xA6, {0x11, 0x13, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(client.Read(4), Pairs({0xF5, 0xA6}));
  EXPECT_EQ(served.line->Snapshot(2).prices[0], 1113);
  EXPECT_EQ(served.line->Snapshot(2).prices[1], 1311);
  EXPECT_EQ(served.line->Snapshot(6).prices[0], 1311);
}

TEST(PtyServer, PacedRepliesCarryTheSameBytes) {
  ServedLine served({.pacing = true});
  PtyClient client(served.server.SlavePath());
  client.Write(RequestFrame(1, 0xA9, {0x40}));
  EXPECT_EQ(client.Read(22), Pairs(Bytes(11, 0)));
}

TEST(PtyServer, PacedExchangesTakeTheLinesTimeForRequestAndReply) {
  // A status poll: 4 request bytes cross first, then each of the 18 reply
  // bytes has arrived only after its own 10 bit times.
  EXPECT_EQ(PacedReplyByteDue(4, 0, kByteTime9600), 5 * kByteTime9600);
  EXPECT_EQ(PacedReplyByteDue(4, 17, kByteTime9600), 22 * kByteTime9600);
  EXPECT_EQ(PacedReplyByteDue(0, 0, std::chrono::milliseconds(2)), std::chrono::milliseconds(2));
}

TEST(PtyServer, SilentRequestsGetNothingAndTheNextOneIsAnswered) {
  ServedLine served;
  PtyClient client(served.server.SlavePath());
  client.Write(RequestFrame(7, 0xA1));  // dispenser 7 is not on this line
  EXPECT_TRUE(client.Read(1, 200).empty());
  client.Write(RequestFrame(1, 0xA3));
  EXPECT_EQ(client.Read(2), Pairs({0xA3}));
}

TEST(PtyServer, StopsInTheMiddleOfALateReply) {
  ServedLine served;
  served.line->InjectFault(1, Request::Stop,
                           {.kind = FaultKind::LateReply, .delay = std::chrono::hours(1)});
  PtyClient client(served.server.SlavePath());
  client.Write(RequestFrame(1, 0xA3));
  while (served.line->Count(Request::Stop) == 0) std::this_thread::yield();
  served.server.Stop();  // returns although the reply is due in an hour
  EXPECT_TRUE(client.Read(1, 50).empty());
}

// A client that never reads its replies fills the pseudo-terminal until the
// server's write cannot go on; a stop must still end the server.
TEST(PtyServer, StopsWhileAClientNeverReadsItsReplies) {
  auto line = std::make_shared<Line>(StillLine(1));
  PtyServer server(line);
  std::mutex mutex;
  std::condition_variable replied;
  std::size_t replies = 0;
  server.SetTrace([&](TraceDirection direction, int, std::span<const std::uint8_t>) {
    std::lock_guard lock(mutex);
    if (direction == TraceDirection::Reply) ++replies;
    replied.notify_all();
  });
  server.Start();
  PtyClient client(server.SlavePath());
  // Status polls, one at a time, until one goes unanswered for a while:
  // the line is full. (Were the machine merely slow, the stop below would
  // find the server anywhere else, which is fine too.)
  bool full = false;
  for (std::size_t sent = 1; sent < 100'000 && !full; ++sent) {
    client.Write(RequestFrame(1, 0xA1));
    std::unique_lock lock(mutex);
    full = !replied.wait_for(lock, std::chrono::seconds(1), [&] { return replies >= sent; });
  }
  ASSERT_TRUE(full) << "the line never filled up";
  auto stop = std::async(std::launch::async, [&] { server.Stop(); });
  const bool stopped = stop.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  // Reading lets a stuck server go on, so the test can end either way.
  while (!stopped && stop.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    client.Read(4096, 10);
  }
  EXPECT_TRUE(stopped) << "Stop waited for the client to read";
}

}  // namespace
}  // namespace quorlan::sim::testing
