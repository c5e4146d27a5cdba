// SPDX-License-Identifier: Apache-2.0
// The tap's cut of a line into exchanges, against a session the driver ran on
// the simulator and the simulator recorded: every request's kind, dispenser
// and fields, every reply's verdict; then the same line spoiled by noise,
// half frames and broken replies, after which the cut finds its step again.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

#include "TapDecoder.h"
#include "TapFormat.h"
#include "quorlan/Driver.h"
#include "sim/Line.h"
#include "sim/Requests.h"
#include "sim/SimDispatcher.h"

namespace quorlan::cli::tap {
namespace {

// One exchange as the simulator recorded it.
struct Recorded {
  Bytes request;
  Bytes reply;  // empty: no reply
};

// The driver's own traffic on a simulated line of two dispensers (a third
// address is polled and stays silent).
std::vector<Recorded> RecordSession() {
  auto line = std::make_shared<sim::Line>(
      sim::LineOptions{.dispensers = 2, .clock = {}, .startWithoutPrices = false});
  line->SetTotals(1, 1, {100000, 5342900});
  sim::SimDispatcher port;
  port.Attach(1, line);
  std::vector<Recorded> session;
  port.SetTrace([&](sim::TraceDirection direction, int, std::span<const std::uint8_t> bytes) {
    if (direction == sim::TraceDirection::Request) {
      session.push_back({Bytes(bytes.begin(), bytes.end()), {}});
    } else if (direction == sim::TraceDirection::Reply) {
      session.back().reply.assign(bytes.begin(), bytes.end());
    }
  });
  Driver driver(port);
  driver.OpenLine(1);
  driver.SetPrice(1, 1, 1, 52.90);
  driver.SetPrice(1, 1, 2, 54.10);
  driver.SetPrice(1, 1, 3, 61.00);
  driver.SetPrice(1, 1, 4, 48.75);
  driver.DownloadPrices(1, 1);
  driver.Poll(1, 1);
  driver.Authorize(1, 1, 2, Limit::Amount(300));
  line->Lift(1, 2);
  line->Advance(3);
  driver.Poll(1, 1);
  driver.Stop(1, 1);
  driver.Poll(1, 2);
  driver.Totals(1, 1, 1);
  try {
    driver.Poll(1, 3);  // nobody there
  } catch (const Error&) {
  }
  return session;
}

constexpr Micros kStart = 1'700'000'000'000'000;
constexpr Micros kBetween = 200'000;  // from one request to the next
constexpr Micros kTurnaround = 3'000;

struct Wire {
  std::vector<std::pair<Micros, Bytes>> chunks;
  std::vector<Micros> requestTimes;  // of each recorded exchange
};

// The session as a listener on the shared wire reads it; `spoil` may add
// bytes just before exchange i (at the request's own time: no silence).
Wire OnTheWire(const std::vector<Recorded>& session,
               const std::function<Bytes(std::size_t)>& spoil = {}) {
  Wire wire;
  Micros time = kStart;
  for (std::size_t i = 0; i < session.size(); ++i) {
    if (spoil) {
      const auto noise = spoil(i);
      if (!noise.empty()) wire.chunks.emplace_back(time - 1, noise);
    }
    wire.requestTimes.push_back(time);
    wire.chunks.emplace_back(time, session[i].request);
    if (!session[i].reply.empty()) wire.chunks.emplace_back(time + kTurnaround, session[i].reply);
    // A silent dispenser keeps the host waiting longer.
    time += session[i].reply.empty() ? 3 * kBetween : kBetween;
  }
  return wire;
}

std::vector<Exchange> Exchanges(const std::vector<Event>& events) {
  std::vector<Exchange> exchanges;
  for (const auto& event : events) {
    if (const auto* exchange = std::get_if<Exchange>(&event)) exchanges.push_back(*exchange);
  }
  return exchanges;
}

std::vector<Event> Decode(const Wire& wire, Side side = Side::Unknown) {
  Decoder decoder;
  for (const auto& [time, bytes] : wire.chunks) decoder.Feed(side, time, bytes);
  decoder.Finish();
  return decoder.Take();
}

TEST(TapDecoder, DecodesEveryExchangeOfARecordedSessionAsTheSimulatorSawIt) {
  const auto session = RecordSession();
  ASSERT_GE(session.size(), 10u);
  const auto wire = OnTheWire(session);
  const auto events = Decode(wire);
  const auto exchanges = Exchanges(events);
  ASSERT_EQ(exchanges.size(), session.size()) << "noise where there was none";
  ASSERT_EQ(events.size(), session.size());
  for (std::size_t i = 0; i < session.size(); ++i) {
    SCOPED_TRACE(JsonLine(exchanges[i]));
    const auto& recorded = session[i];
    const auto target = sim::DecodeAddress(recorded.request[0]);
    ASSERT_TRUE(target);
    const auto request = sim::ClassifyRequest(target->second, recorded.request[2]);
    ASSERT_TRUE(request);
    EXPECT_EQ(exchanges[i].kind->name, sim::RequestName(*request));
    EXPECT_EQ(exchanges[i].dispenser, target->dispenser);
    EXPECT_EQ(exchanges[i].second, target->second);
    EXPECT_EQ(exchanges[i].request, recorded.request);
    EXPECT_EQ(exchanges[i].reply, recorded.reply);
    EXPECT_EQ(exchanges[i].requestTime, wire.requestTimes[i]);
    EXPECT_EQ(exchanges[i].verdict, recorded.reply.empty() ? Verdict::NoReply : Verdict::Valid);
  }
}

// The fields as the session set them, read back from the tap's lines.
TEST(TapDecoder, ShowsTheFieldsTheDriverSentAndTheDispenserReported) {
  const auto events = Decode(OnTheWire(RecordSession()));
  std::string text;
  for (const auto& event : events) text += TextLine(event) + "\n";
  for (const char* expected : {
           "dispenser 1 prices (grade1 52.90, grade2 54.10, grade3 61.00, grade4 48.75): valid",
           "dispenser 1 preset (grade 2, price 54.10, amount 300.00, volume ",
           "dispenser 1 status: valid reply after 3.0 ms; state filling",
           "dispenser 1 totals (nozzle 1): valid reply after 3.0 ms; volume total 1000.00, "
           "amount total 53429.00",
           "dispenser 3 status: no reply",
       }) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
}

// Exchanges before the spoiled one, and from two after it on, come out as
// recorded; the one spoiled and the next may be lost.
void ExpectStepFound(const std::vector<Recorded>& session, const Wire& wire,
                     const std::vector<Event>& events, std::size_t spoiled) {
  std::map<Micros, Exchange> byTime;
  for (auto& exchange : Exchanges(events)) byTime[exchange.requestTime] = exchange;
  for (std::size_t i = 0; i < session.size(); ++i) {
    if (i == spoiled || i == spoiled + 1) continue;
    SCOPED_TRACE(::testing::Message() << "exchange " << i << " after noise before " << spoiled);
    const auto found = byTime.find(wire.requestTimes[i]);
    ASSERT_NE(found, byTime.end());
    EXPECT_EQ(found->second.request, session[i].request);
    EXPECT_EQ(found->second.reply, session[i].reply);
  }
}

struct Spoiling {
  const char* name;
  // Bytes put just before the spoiled exchange, from its recording.
  std::function<Bytes(const Recorded& spoiled, std::mt19937& random)> bytes;
};

class TapDecoderAfterNoise : public ::testing::TestWithParam<Spoiling> {};

TEST_P(TapDecoderAfterNoise, FindsItsStepWithinTwoExchanges) {
  const auto session = RecordSession();
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 random(seed);
    for (std::size_t spoiled = 0; spoiled < session.size(); ++spoiled) {
      const auto wire = OnTheWire(session, [&](std::size_t i) {
        return i == spoiled ? GetParam().bytes(session[i], random) : Bytes{};
      });
      const auto events = Decode(wire);
      ExpectStepFound(session, wire, events, spoiled);
      if (HasFailure()) return;
    }
  }
}

Bytes RandomBytes(std::mt19937& random, std::size_t count) {
  Bytes bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Spoilings, TapDecoderAfterNoise,
    ::testing::Values(Spoiling{"RandomBytes",
                               [](const Recorded&, std::mt19937& random) {
                                 return RandomBytes(random, 1 + random() % 40);
                               }},
                      // The head of a request that never finished.
                      Spoiling{"HalfFrame",
                               [](const Recorded& spoiled, std::mt19937& random) {
                                 return Bytes(spoiled.request.begin(),
                                              spoiled.request.begin() + 1 + long(random() % 3));
                               }},
                      // A whole stray request: what follows is taken for its reply.
                      Spoiling{"StrayRequest", [](const Recorded& spoiled,
                                                  std::mt19937&) { return spoiled.request; }},
                      // The tail of a reply that came too late.
                      Spoiling{"LateReplyTail",
                               [](const Recorded&, std::mt19937& random) {
                                 const Bytes tail{0x00, 0xFF, 0x00, 0xFF, 0xA0, 0x5F};
                                 return Bytes(tail.begin() + 2 * long(random() % 3), tail.end());
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

struct Reply {
  const char* name;
  std::function<Bytes(Bytes)> spoil;
  Verdict verdict;
};

class TapDecoderVerdict : public ::testing::TestWithParam<Reply> {};

// A status poll whose reply is spoiled, then a good poll: the verdict, and
// the next exchange untouched.
TEST_P(TapDecoderVerdict, JudgesTheReplyAndKeepsItsStep) {
  const auto session = RecordSession();
  const auto poll = *std::find_if(session.begin(), session.end(),
                                  [](const Recorded& r) { return r.reply.size() == 18; });
  auto spoiled = poll;
  spoiled.reply = GetParam().spoil(poll.reply);
  const auto wire = OnTheWire({spoiled, poll});
  const auto exchanges = Exchanges(Decode(wire));
  ASSERT_EQ(exchanges.size(), 2u);
  EXPECT_EQ(exchanges[0].verdict, GetParam().verdict);
  EXPECT_EQ(exchanges[1].verdict, Verdict::Valid);
  EXPECT_EQ(exchanges[1].reply, poll.reply);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TapDecoderVerdict,
    ::testing::Values(Reply{"Whole", [](Bytes b) { return b; }, Verdict::Valid},
                      Reply{"Missing", [](Bytes) { return Bytes{}; }, Verdict::NoReply},
                      Reply{"CutShort",
                            [](Bytes b) {
                              b.resize(6);
                              return b;
                            },
                            Verdict::Short},
                      Reply{"OddByteShort",
                            [](Bytes b) {
                              b.resize(7);
                              return b;
                            },
                            Verdict::Short},
                      Reply{"BrokenComplement",
                            [](Bytes b) {
                              b[5] ^= 0x10;
                              return b;
                            },
                            Verdict::BrokenComplement},
                      // A wrong speed or parity: every byte off.
                      Reply{"AllOff",
                            [](Bytes b) {
                              for (auto& x : b) x = static_cast<std::uint8_t>(x << 1);
                              return b;
                            },
                            Verdict::BrokenComplement}),
    [](const auto& info) { return std::string(info.param.name); });

// A tap cable's two sides: each byte's side is known, so a missing reply
// ends at the next request however soon it comes, and a dispenser's stray
// bytes between exchanges are noise.
TEST(TapDecoder, OnTwoSidesTellsRepliesFromRequestsBySide) {
  const auto session = RecordSession();
  Decoder decoder;
  Micros time = kStart;
  for (const auto& exchange : session) {
    decoder.Feed(Side::Dispenser, time, Bytes{0x55});
    decoder.Feed(Side::Host, time + 1, exchange.request);
    if (!exchange.reply.empty()) decoder.Feed(Side::Dispenser, time + 2, exchange.reply);
    time += 10;  // no silence at all between exchanges
  }
  decoder.Finish();
  const auto events = decoder.Take();
  const auto exchanges = Exchanges(events);
  ASSERT_EQ(exchanges.size(), session.size());
  for (std::size_t i = 0; i < session.size(); ++i) {
    EXPECT_EQ(exchanges[i].request, session[i].request);
    EXPECT_EQ(exchanges[i].reply, session[i].reply);
  }
  EXPECT_EQ(events.size(), 2 * session.size());
}

// Silence alone closes a missing reply and forgets a half frame.
TEST(TapDecoder, SilenceEndsAMissingReplyAndForgetsAHalfFrame) {
  const auto session = RecordSession();
  Decoder decoder;
  decoder.Feed(Side::Unknown, kStart, session[0].request);
  decoder.Idle(kStart + 100'000);
  EXPECT_TRUE(decoder.Take().empty()) << "a reply may still come";
  decoder.Idle(kStart + 500'000);
  const auto closed = Exchanges(decoder.Take());
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].verdict, Verdict::NoReply);

  const Bytes half(session[1].request.begin(), session[1].request.begin() + 3);
  decoder.Feed(Side::Unknown, kStart + 600'000, half);
  decoder.Idle(kStart + 700'000);
  const auto events = decoder.Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(std::get<Noise>(events[0]).bytes, half);
  decoder.Feed(Side::Unknown, kStart + 800'000, session[1].request);
  decoder.Feed(Side::Unknown, kStart + 803'000, session[1].reply);
  const auto next = Exchanges(decoder.Take());
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0].request, session[1].request);
}

}  // namespace
}  // namespace quorlan::cli::tap
