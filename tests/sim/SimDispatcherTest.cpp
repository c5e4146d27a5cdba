// The in-process port dispatcher: channels, verifier, codes, trace.

#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace quorlan::sim::testing {
namespace {

struct VerifierCall {
  std::int32_t channel, highIndex, received, expected;
};

// Records the call and accepts, as a stand-in for the driver's check.
bool Recording(void* owner, std::int32_t channel, const std::uint8_t*, std::int32_t highIndex,
               std::int32_t received, std::int32_t expected) {
  static_cast<std::vector<VerifierCall>*>(owner)->push_back(
      {channel, highIndex, received, expected});
  return true;
}

class SimDispatcherTest : public ::testing::Test {
 protected:
  std::uint32_t Exchange(int channel, const Bytes& request, int expected) {
    reply.fill(0xEE);
    return port.Exchange(channel, request.data(), std::int32_t(request.size()), reply.data(),
                         expected, 0);
  }

  SimDispatcher port;
  std::vector<VerifierCall> calls;
  std::array<std::uint8_t, kReplyBufferSize> reply{};
};

TEST_F(SimDispatcherTest, HandsTheReplyToTheChannelsVerifier) {
  port.Attach(3, std::make_shared<Line>(StillLine()));
  port.SetVerifier(3, {Recording, &calls});
  EXPECT_EQ(Exchange(3, RequestFrame(1, 0xA3), 2), 0u);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].channel, 3);
  EXPECT_EQ(calls[0].highIndex, kReplyBufferSize - 1);
  EXPECT_EQ(calls[0].received, 2);
  EXPECT_EQ(calls[0].expected, 2);
  EXPECT_EQ(reply[0], 0xA3);
  EXPECT_EQ(reply[2], 0xEE);  // nothing beyond the reply is touched
}

TEST_F(SimDispatcherTest, ReadsNoMoreThanTheExpectedCount) {
  port.Attach(1, std::make_shared<Line>(StillLine()));
  port.SetVerifier(1, {Recording, &calls});
  Exchange(1, RequestFrame(1, 0xA1), 4);
  EXPECT_EQ(calls.at(0).received, 4);
  EXPECT_EQ(reply[4], 0xEE);
}

TEST_F(SimDispatcherTest, SilenceIsNoReplyWithoutCallingTheVerifier) {
  auto line = std::make_shared<Line>(StillLine());
  port.Attach(1, line);
  port.SetVerifier(1, {Recording, &calls});
  line->InjectFault(1, Request::Stop, {.kind = FaultKind::LateReply});
  for (const auto& [channel, request] : {std::pair{1, RequestFrame(1, 0xA3)},  // late
                                         std::pair{1, RequestFrame(5, 0xA3)},  // nobody there
                                         std::pair{2, RequestFrame(1, 0xA3)},  // no line
                                         std::pair{0, RequestFrame(1, 0xA3)}}) {
    EXPECT_EQ(Exchange(channel, request, 2), kErrorNoReply) << channel;
    EXPECT_EQ(port.GetError(channel), kErrorNoReply);
    EXPECT_EQ(port.GetState(channel), kLinkBad);
  }
  EXPECT_TRUE(calls.empty());
  // The late stop still reached the dispenser.
  EXPECT_EQ(line->Count(Request::Stop), 1u);
}

TEST_F(SimDispatcherTest, TracesRequestsRepliesAndSilence) {
  port.Attach(1, std::make_shared<Line>(StillLine()));
  std::vector<std::tuple<TraceDirection, int, Bytes>> seen;
  port.SetTrace([&](TraceDirection direction, int channel, std::span<const std::uint8_t> b) {
    seen.emplace_back(direction, channel, Bytes(b.begin(), b.end()));
  });
  Exchange(1, RequestFrame(1, 0xA3), 2);
  Exchange(1, RequestFrame(2, 0xA3), 2);
  using T = TraceDirection;
  const std::vector<std::tuple<TraceDirection, int, Bytes>> expected{
      {T::Request, 1, RequestFrame(1, 0xA3)},
      {T::Reply, 1, Pairs({0xA3})},
      {T::Request, 1, RequestFrame(2, 0xA3)},
      {T::NoReply, 1, {}}};
  EXPECT_EQ(seen, expected);
}

TEST_F(SimDispatcherTest, RecordsLineSetupAndRejectsUnknownChannels) {
  port.Configure(4, 3, 9600);
  EXPECT_EQ(port.Configures(), (std::vector<ConfigureCall>{{4, 3, 9600}}));
  EXPECT_THROW(port.Attach(0, nullptr), std::out_of_range);
  EXPECT_THROW(port.Attach(33, nullptr), std::out_of_range);
  EXPECT_EQ(port.LineOn(33), nullptr);
  port.SetState(7, kLinkBad);
  port.SetError(7, 0xF6);
  EXPECT_EQ(port.GetState(7), kLinkBad);
  EXPECT_EQ(port.GetError(7), 0xF6u);
  EXPECT_EQ(port.GetState(8), kLinkGood);
}

}  // namespace
}  // namespace quorlan::sim::testing
