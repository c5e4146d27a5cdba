// SPDX-License-Identifier: Apache-2.0
// The serial line read up to a mark (SerialLine::TransferUntil), as the
// gauge's replies are: it ends at the ETX, and whatever follows the mark or
// a reply without one puts the line out of step, so the next exchange lets
// the rest fall silent before it asks.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PtyPeer.h"
#include "quorlan/SerialLine.h"

namespace quorlan::gauge {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::PtyPeer;

Bytes Of(std::string_view text) {
  return {text.begin(), text.end()};
}

const Bytes kCommand = Of("\x01i20100");
const Bytes kGood = Of("\x01good\x03");

TEST(SerialLineUntil, EndsAtTheMarkAndHearsOnlyItsOwnReplyAfterStrayBytes) {
  const struct {
    const char* name;
    Bytes first;          // what the peer sends for the first command
    std::size_t counted;  // what the first exchange gives at most
  } cases[] = {
      {"whole", kGood, kGood.size()},
      {"stray bytes after the mark", Of("\x01good\x03stale\x01i201"), 20},
      {"no mark", Of("\x01no end"), 7},
      {"silence", {}, 0},
  };
  for (const auto& c : cases) {
    PtyPeer peer;
    serial::SerialLine line(peer.Path());
    ASSERT_TRUE(line.Open(9600)) << line.Problem();
    const serial::LineTimeouts timeouts{.reply = 300ms, .interByte = 50ms, .settle = 100ms};
    std::thread gauge([&] {
      EXPECT_EQ(peer.Read(kCommand.size()), kCommand);
      if (!c.first.empty()) peer.Write(c.first);
      EXPECT_EQ(peer.Read(kCommand.size()), kCommand);
      peer.Write(kGood);
    });
    Bytes reply(4096);
    const auto first = line.TransferUntil(kCommand, reply, 0x03, timeouts);
    ASSERT_TRUE(first) << c.name;
    EXPECT_LE(first->count, c.counted) << c.name;
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + long(std::min(first->count, kGood.size()))),
              Bytes(c.first.begin(), c.first.begin() + long(std::min(first->count, kGood.size()))))
        << c.name;
    const auto second = line.TransferUntil(kCommand, reply, 0x03, timeouts);
    gauge.join();
    ASSERT_TRUE(second) << c.name;
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + long(second->count)), kGood) << c.name;
  }
}

// A gauge that trickles a byte every 20 ms and never its ETX is cut off at
// the whole-reply deadline: the line fails rather than wait for ever.
TEST(SerialLineUntil, AReplyThatNeverEndsFailsTheLineAtItsDeadline) {
  PtyPeer peer;
  serial::SerialLine line(peer.Path());
  ASSERT_TRUE(line.Open(9600)) << line.Problem();
  std::atomic<bool> done{false};
  std::thread gauge([&] {
    EXPECT_EQ(peer.Read(kCommand.size()), kCommand);
    while (!done) {
      peer.Write(Of("x"));
      std::this_thread::sleep_for(20ms);
    }
  });
  Bytes reply(65536);
  const auto heard = line.TransferUntil(
      kCommand, reply, 0x03, {.reply = 300ms, .interByte = 200ms, .settle = 100ms, .whole = 400ms});
  done = true;
  gauge.join();
  EXPECT_FALSE(heard);
  EXPECT_FALSE(line.IsOpen());
  EXPECT_EQ(line.Problem(), "the line does not fall silent");
}

}  // namespace
}  // namespace quorlan::gauge
