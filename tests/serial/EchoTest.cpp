// SPDX-License-Identifier: Apache-2.0
// A line whose adapter hears its own requests: with echo set, the request's
// bytes are read back and checked before the reply; an echo that is missing
// or garbled gives no reply, and the line finds its step on the next
// exchange. Without echo set, nothing changes.

#include <gtest/gtest.h>

#include <thread>

#include "PtyPeer.h"
#include "quorlan/SerialLine.h"

namespace quorlan::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const Bytes kRequest{0xF0, 0x0F, 0xA1, 0x5E};
const Bytes kReply{0x00, 0xFF, 0x12, 0xED, 0xA0, 0x5F};

Bytes Joined(const Bytes& a, const Bytes& b) {
  Bytes joined(a);
  joined.insert(joined.end(), b.begin(), b.end());
  return joined;
}

struct EchoCase {
  const char* name;
  bool echo;       // the line's setting
  Bytes heard;     // what the peer sends back after the request
  Bytes expected;  // what the exchange gives
};

class SerialLineEcho : public ::testing::TestWithParam<EchoCase> {};

TEST_P(SerialLineEcho, ChecksTheEchoBeforeTheReplyAndKeepsItsStep) {
  PtyPeer peer;
  serial::SerialLine line(peer.Path());
  ASSERT_TRUE(line.Open(9600)) << line.Problem();
  line.SetEcho(GetParam().echo);
  const serial::LineTimeouts timeouts{.reply = 300ms, .interByte = 50ms, .settle = 100ms};

  std::thread dispenser([&] {
    EXPECT_EQ(peer.Read(kRequest.size()), kRequest);
    if (!GetParam().heard.empty()) peer.Write(GetParam().heard);
    // The next exchange is a good one.
    EXPECT_EQ(peer.Read(kRequest.size()), kRequest);
    peer.Write(GetParam().echo ? Joined(kRequest, kReply) : kReply);
  });
  Bytes reply(kReply.size());
  const auto first = line.Transfer(kRequest, reply, timeouts);
  ASSERT_TRUE(first);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + long(first->count)), GetParam().expected);
  const auto second = line.Transfer(kRequest, reply, timeouts);
  dispenser.join();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->count, kReply.size());
  EXPECT_EQ(reply, kReply);
}

Bytes Garbled() {
  auto echo = kRequest;
  echo[2] ^= 0x01;
  return Joined(echo, kReply);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialLineEcho,
                         ::testing::Values(EchoCase{"OffWithoutEcho", false, kReply, kReply},
                                           EchoCase{"OnWithEcho", true, Joined(kRequest, kReply),
                                                    kReply},
                                           EchoCase{"OnEchoOnly", true, kRequest, {}},
                                           EchoCase{"OnGarbledEcho", true, Garbled(), {}},
                                           EchoCase{"OnNoEchoButAReply", true, kReply, {}},
                                           EchoCase{"OnSilence", true, {}, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Everything the line carries reaches the recorder: the request as sent,
// then each read as heard, the echo apart from the reply.
TEST(SerialLineRecorder, HearsTheRequestItsEchoAndTheReply) {
  PtyPeer peer;
  serial::SerialLine line(peer.Path());
  ASSERT_TRUE(line.Open(9600)) << line.Problem();
  line.SetEcho(true);
  std::vector<std::pair<bool, Bytes>> heard;
  line.SetRecorder([&](bool sent, std::span<const std::uint8_t> bytes, auto) {
    heard.emplace_back(sent, Bytes(bytes.begin(), bytes.end()));
  });
  std::thread dispenser([&] {
    EXPECT_EQ(peer.Read(kRequest.size()), kRequest);
    peer.Write(Joined(kRequest, kReply));
  });
  Bytes reply(kReply.size());
  const auto received = line.Transfer(kRequest, reply, {.reply = 300ms});
  dispenser.join();
  ASSERT_TRUE(received);
  const std::vector<std::pair<bool, Bytes>> expected{
      {true, kRequest}, {false, kRequest}, {false, kReply}};
  EXPECT_EQ(heard, expected);
}

}  // namespace
}  // namespace quorlan::testing
