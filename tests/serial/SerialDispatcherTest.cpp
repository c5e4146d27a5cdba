// The serial port dispatcher against a pseudo-terminal whose far end the test
// plays: raw bytes both ways, the two timeouts, short and missing replies,
// line failures and independent channels.

#include <gtest/gtest.h>

#include <future>
#include <numeric>
#include <stdexcept>
#include <thread>

#include "PtyPeer.h"
#include "quorlan/SerialTransport.h"

namespace quorlan::testing {
namespace {

using namespace std::chrono_literals;
using serial::LineTimeouts;
using serial::SerialDispatcher;
using Bytes = std::vector<std::uint8_t>;

// Plays the driver's verifier: records what arrived and reports a verdict.
struct RecordingVerifier {
  TPortDispatcher* port = nullptr;
  std::uint32_t verdict = 0;
  bool raise = false;
  std::vector<int> received;
  std::vector<int> expected;

  static bool Call(void* self, std::int32_t channel, const std::uint8_t*, std::int32_t,
                   std::int32_t received, std::int32_t expected) {
    auto& v = *static_cast<RecordingVerifier*>(self);
    v.received.push_back(received);
    v.expected.push_back(expected);
    if (v.raise) throw std::runtime_error("verifier fault");
    v.port->SetState(channel, v.verdict == 0 ? kLinkGood : kLinkBad);
    v.port->SetError(channel, v.verdict);
    return v.verdict == 0;
  }
  ReplyVerifier Bound() { return {&Call, this}; }
};

Bytes Sequence(std::size_t count, std::uint8_t first = 0) {
  Bytes bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

// Bounds a test that would otherwise hang: if the exchange has not ended
// within the guard, the peer hangs up and the exchange fails.
constexpr auto kHangGuard = 20s;

class SerialDispatcherTest : public ::testing::Test {
 protected:
  void Use(LineTimeouts timeouts) {
    port = std::make_unique<SerialDispatcher>(timeouts);
    port->MapChannel(1, peer.Path());
    port->Configure(1, kLineSetting8N1, 9600);
    verifier.port = port.get();
    port->SetVerifier(1, verifier.Bound());
  }

  // One exchange on channel 1 while `dispenser` plays the far end.
  std::uint32_t ExchangeWith(const Bytes& request, int expected,
                             const std::function<void()>& dispenser) {
    std::thread far(dispenser);
    reply.assign(kReplyBufferSize, 0xEE);
    auto result = std::async(std::launch::async, [&] {
      return port->Exchange(1, request.data(), static_cast<int>(request.size()), reply.data(),
                            expected, 0);
    });
    const bool ended = result.wait_for(kHangGuard) == std::future_status::ready;
    far.join();
    if (!ended) peer.Hangup();
    return result.get();
  }

  PtyPeer peer;
  std::unique_ptr<SerialDispatcher> port;
  RecordingVerifier verifier;
  Bytes reply;
};

TEST_F(SerialDispatcherTest, EveryByteValuePassesUnchangedAndTheExchangeEndsAtTheLastByte) {
  // Timeouts far beyond the hang guard: only the arrival of the last byte
  // can end this exchange.
  Use({.reply = 1h, .interByte = 1h});
  const Bytes request = Sequence(254);
  const Bytes answer = Sequence(255, 0x80);
  Bytes seen;
  const auto code = ExchangeWith(request, 255, [&] {
    seen = peer.Read(request.size());
    peer.Write(answer);
  });
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(seen, request);
  EXPECT_EQ(reply, answer);
  EXPECT_EQ(verifier.received, std::vector<int>{255});
  EXPECT_EQ(port->GetState(1), kLinkGood);
}

TEST_F(SerialDispatcherTest, ShortReplyEndsAtTheInterByteTimeoutAndReachesTheVerifier) {
  // Long enough that a loaded machine never splits the burst at a gap.
  Use({.reply = 1h, .interByte = 300ms});
  const auto code = ExchangeWith(Sequence(4), 18, [&] {
    peer.Read(4);
    peer.Write(Sequence(16, 1));
  });
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(verifier.received, std::vector<int>{16});
  EXPECT_EQ(verifier.expected, std::vector<int>{18});
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 16), Sequence(16, 1));
}

TEST_F(SerialDispatcherTest, ReplyTimeoutLimitsOnlyTheWaitForTheFirstByte) {
  // The first byte follows the request at once; the reply as a whole lasts
  // longer than the reply timeout, with a second to spare for a slow start.
  Use({.reply = 1s, .interByte = 1h});
  const auto code = ExchangeWith(Sequence(4), 10, [&] {
    peer.Read(4);
    for (std::uint8_t b = 0; b < 10; ++b) {
      peer.Write({b});
      std::this_thread::sleep_for(150ms);
    }
  });
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(verifier.received, std::vector<int>{10});
}

TEST_F(SerialDispatcherTest, AReplyTricklingInFasterThanTheGapIsReadWholePastOneGap) {
  // The whole reply lasts longer than the inter-byte timeout; no single gap
  // comes near it.
  Use({.reply = 1h, .interByte = 1s});
  const auto code = ExchangeWith(Sequence(4), 12, [&] {
    peer.Read(4);
    for (std::uint8_t b = 0; b < 12; ++b) {
      peer.Write({b});
      std::this_thread::sleep_for(100ms);
    }
  });
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(verifier.received, std::vector<int>{12});
}

TEST_F(SerialDispatcherTest, NoReplyIsReportedWithoutCallingTheVerifier) {
  Use({.reply = 40ms, .interByte = 40ms});
  const auto code = ExchangeWith(Sequence(4), 18, [&] { peer.Read(4); });
  EXPECT_EQ(code, kErrorNoReply);
  EXPECT_EQ(port->GetError(1), kErrorNoReply);
  EXPECT_EQ(port->GetState(1), kLinkBad);
  EXPECT_TRUE(verifier.received.empty());
}

TEST_F(SerialDispatcherTest, TheVerifiersVerdictIsTheResult) {
  Use({.reply = 1h, .interByte = 1h});
  verifier.verdict = kErrorBadComplement;
  const auto code = ExchangeWith(Sequence(4), 2, [&] {
    peer.Read(4);
    peer.Write({0x12, 0xEE});
  });
  EXPECT_EQ(code, kErrorBadComplement);
  EXPECT_EQ(port->GetError(1), kErrorBadComplement);
  EXPECT_EQ(port->GetState(1), kLinkBad);
}

TEST_F(SerialDispatcherTest, AVerifierThatRaisesLeavesTheChannelFailed) {
  Use({.reply = 1h, .interByte = 1h});
  verifier.raise = true;
  std::thread far([&] {
    peer.Read(4);
    peer.Write({0x00, 0xFF});
  });
  reply.assign(kReplyBufferSize, 0);
  const Bytes request = Sequence(4);
  EXPECT_THROW(port->Exchange(1, request.data(), 4, reply.data(), 2, 0), std::runtime_error);
  far.join();
  EXPECT_EQ(port->GetError(1), kErrorVerifierException);
  EXPECT_EQ(port->GetState(1), kLinkBad);
}

// Bytes nobody asked for, found before a request, are dropped with the
// rest of whatever follows until the line falls silent.
TEST_F(SerialDispatcherTest, StrayInputIsDroppedBeforeTheRequest) {
  Use({.reply = 5s, .interByte = 30ms, .settle = 30ms});
  peer.Write({0xAA, 0xBB, 0xCC});
  peer.WaitUntilQueued();
  const auto code = ExchangeWith(Sequence(4), 4, [&] {
    peer.Read(4);
    peer.Write({1, 2, 3, 4});
  });
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), (Bytes{1, 2, 3, 4}));
}

// A peer that answers every request, in order, but one of them late: the
// late reply lands in the next exchange, followed by that exchange's own.
// The bytes read may belong to the earlier request, so that exchange fails;
// the one after it is back in step.
TEST_F(SerialDispatcherTest, ALateReplyNeverPassesForTheNextRequestsAnswer) {
  Use({.reply = 1s, .interByte = 100ms, .settle = 30ms});
  const Bytes late = Sequence(6, 0x10), second = Sequence(6, 0x20), third = Sequence(6, 0x30);
  EXPECT_EQ(ExchangeWith(Sequence(4, 1), 6, [&] { peer.Read(4); }), kErrorNoReply);
  // The peer only now gets to both requests and answers them back to back.
  Bytes both = late;
  both.insert(both.end(), second.begin(), second.end());
  EXPECT_EQ(ExchangeWith(Sequence(4, 2), 6,
                         [&] {
                           peer.Read(4);
                           peer.Write(both);
                         }),
            kErrorBadLength);
  EXPECT_EQ(port->GetState(1), kLinkBad);
  EXPECT_TRUE(verifier.received.empty()) << "the verifier saw a reply that is not provably ours";
  EXPECT_EQ(ExchangeWith(Sequence(4, 3), 6,
                         [&] {
                           peer.Read(4);
                           peer.Write(third);
                         }),
            0u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), third);
}

// A peer that stops taking bytes: the write has a deadline, and the
// exchange fails as a line failure instead of hanging.
TEST_F(SerialDispatcherTest, APeerThatStopsReadingFailsTheLineInsteadOfHanging) {
  Use({.reply = 50ms, .interByte = 20ms, .settle = 20ms});
  // Fast, so the request's own transmission time is short; big enough to
  // fill every buffer between here and the peer, who never reads.
  port->Configure(1, kLineSetting8N1, 4'000'000);
  ASSERT_TRUE(port->IsOpen(1)) << port->LineProblem(1);
  const Bytes request(256 * 1024, 0x5A);
  reply.assign(kReplyBufferSize, 0);
  auto result = std::async(std::launch::async, [&] {
    return port->Exchange(1, request.data(), static_cast<int>(request.size()), reply.data(), 18, 0);
  });
  const bool ended = result.wait_for(kHangGuard) == std::future_status::ready;
  if (!ended) peer.Hangup();
  EXPECT_TRUE(ended) << "the write hung";
  EXPECT_EQ(result.get(), kErrorLineFailure);
  EXPECT_FALSE(port->LineProblem(1).empty());
}

// One program per line: a second opener is turned away as busy until the
// first lets go.
TEST_F(SerialDispatcherTest, ASecondOpenerFindsThePortBusy) {
  Use({.reply = 1h, .interByte = 1h});
  ASSERT_TRUE(port->IsOpen(1));
  SerialDispatcher second;
  second.MapChannel(1, peer.Path());
  second.Configure(1, kLineSetting8N1, 9600);
  EXPECT_FALSE(second.IsOpen(1));
  EXPECT_EQ(second.LineProblem(1), "port busy: " + peer.Path());
  EXPECT_EQ(second.GetError(1), kErrorLineFailure);
  port.reset();
  second.Configure(1, kLineSetting8N1, 9600);
  EXPECT_TRUE(second.IsOpen(1)) << second.LineProblem(1);
}

TEST_F(SerialDispatcherTest, AnExchangeOpensAnUnconfiguredLineAtTheDefaultSetting) {
  port = std::make_unique<SerialDispatcher>(LineTimeouts{.reply = 1h, .interByte = 1h});
  port->MapChannel(1, peer.Path());
  EXPECT_FALSE(port->IsOpen(1));
  EXPECT_EQ(ExchangeWith(Sequence(4), 2,
                         [&] {
                           peer.Read(4);
                           peer.Write({0x00, 0xFF});
                         }),
            0u);
  EXPECT_TRUE(port->IsOpen(1));
}

TEST_F(SerialDispatcherTest, ALineThatHangsUpFailsTheExchange) {
  Use({.reply = 1h, .interByte = 1h});
  const auto code = ExchangeWith(Sequence(4), 18, [&] {
    peer.Read(4);
    peer.Write(Sequence(6));
    peer.Hangup();
  });
  EXPECT_EQ(code, kErrorLineFailure);
  EXPECT_EQ(port->GetState(1), kLinkBad);
  EXPECT_FALSE(port->LineProblem(1).empty());
}

struct LineFailureCase {
  const char* name;
  std::int32_t channel;
  std::function<void(SerialDispatcher&)> setup;
};

class SerialLineFailureTest : public ::testing::TestWithParam<LineFailureCase> {};

TEST_P(SerialLineFailureTest, EndsInTheLineFailureCode) {
  SerialDispatcher port({.reply = 20ms, .interByte = 20ms});
  GetParam().setup(port);
  const Bytes request{0xF0, 0x0F, 0xA1, 0x5E};
  Bytes reply(kReplyBufferSize, 0);
  const auto c = GetParam().channel;
  EXPECT_EQ(port.Exchange(c, request.data(), 4, reply.data(), 18, 0), kErrorLineFailure);
  EXPECT_EQ(port.GetError(c), kErrorLineFailure);
  EXPECT_EQ(port.GetState(c), kLinkBad);
  EXPECT_FALSE(port.LineProblem(c).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SerialLineFailureTest,
    ::testing::Values(LineFailureCase{"NoDeviceMapped", 2, [](SerialDispatcher&) {}},
                      LineFailureCase{"DeviceMissing", 1,
                                      [](SerialDispatcher& p) {
                                        p.MapChannel(1, "/nonexistent/tty");
                                        p.Configure(1, kLineSetting8N1, 9600);
                                      }},
                      LineFailureCase{"UnknownLineSetting", 1,
                                      [](SerialDispatcher& p) {
                                        p.MapChannel(1, "/dev/null");
                                        p.Configure(1, 2, 9600);
                                      }},
                      LineFailureCase{"ChannelZeroHasNoLine", 0, [](SerialDispatcher&) {}},
                      LineFailureCase{"ChannelBeyondTheTable", 40, [](SerialDispatcher&) {}},
                      LineFailureCase{"NegativeChannel", -1, [](SerialDispatcher&) {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialDispatcherMapping, RefusesChannelsOutsideOneToThirtyTwo) {
  SerialDispatcher port;
  EXPECT_THROW(port.MapChannel(0, "/dev/null"), std::invalid_argument);
  EXPECT_THROW(port.MapChannel(33, "/dev/null"), std::invalid_argument);
  EXPECT_NO_THROW(port.MapChannel(32, "/dev/null"));
  EXPECT_TRUE(port.IsMapped(32));
}

TEST(SerialDispatcherChannels, LinesOfDifferentChannelsWorkFromDifferentThreads) {
  constexpr int kExchanges = 40;
  PtyPeer peers[2];
  SerialDispatcher port({.reply = 5s, .interByte = 5s});
  RecordingVerifier verifiers[2];
  for (int i = 0; i < 2; ++i) {
    port.MapChannel(i + 1, peers[i].Path());
    port.Configure(i + 1, kLineSetting8N1, 9600);
    verifiers[i].port = &port;
    port.SetVerifier(i + 1, verifiers[i].Bound());
  }
  std::vector<std::thread> threads;
  int mismatches[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    // Each far end echoes the request back with its own channel mark.
    threads.emplace_back([&, i] {
      for (int n = 0; n < kExchanges; ++n) {
        Bytes request = peers[i].Read(2);
        request.push_back(static_cast<std::uint8_t>(0xC0 + i));
        peers[i].Write(request);
      }
    });
    threads.emplace_back([&, i] {
      for (int n = 0; n < kExchanges; ++n) {
        const Bytes request{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(i)};
        Bytes reply(kReplyBufferSize, 0);
        const auto code = port.Exchange(i + 1, request.data(), 2, reply.data(), 3, 0);
        const Bytes expected{request[0], request[1], static_cast<std::uint8_t>(0xC0 + i)};
        if (code != 0 || Bytes(reply.begin(), reply.begin() + 3) != expected) ++mismatches[i];
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
  EXPECT_EQ(verifiers[0].received.size(), static_cast<std::size_t>(kExchanges));
  EXPECT_EQ(verifiers[1].received.size(), static_cast<std::size_t>(kExchanges));
}

}  // namespace
}  // namespace quorlan::testing
