// Scripted faults as they leave the simulated line.

#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace quorlan::sim::testing {
namespace {

const Bytes kStatusInfo{0xF0, 0xA1, 0, 0, 0, 0, 0, 0, 0xA0};

struct FaultCase {
  const char* name;
  Request request;
  Fault fault;
  Bytes frame;
  Response expected;
};

Bytes WithLastComplementFlipped(Bytes line) {
  line.back() ^= 0x01;
  return line;
}

Bytes WithoutLastByte(Bytes line) {
  line.pop_back();
  return line;
}

const FaultCase kFaults[] = {
    {"NoReply", Request::Status, {.kind = FaultKind::NoReply}, RequestFrame(1, 0xA1), {}},
    {"WrongComplement",
     Request::Status,
     {.kind = FaultKind::WrongComplement},
     RequestFrame(1, 0xA1),
     {Response::Delivery::Now, WithLastComplementFlipped(Pairs(kStatusInfo))}},
    {"ShortReplyLosesOneByte",
     Request::Status,
     {.kind = FaultKind::ShortReply},
     RequestFrame(1, 0xA1),
     {Response::Delivery::Now, WithoutLastByte(Pairs(kStatusInfo))}},
    {"ShortReplyOfOnePair",
     Request::Status,
     {.kind = FaultKind::ShortReply, .length = 2},
     RequestFrame(1, 0xA1),
     {Response::Delivery::Now, Pairs({0xF0})}},
    {"BadDigitInTheAmount",
     Request::Status,
     {.kind = FaultKind::BadDigit},
     RequestFrame(1, 0xA1),
     {Response::Delivery::Now, Pairs({0xF0, 0xA1, 0xA0, 0, 0, 0, 0, 0, 0xA0})}},
    {"BadDigitInTheTotals",
     Request::Totals,
     {.kind = FaultKind::BadDigit},
     RequestFrame(1, 0xA9, {0x40}),
     {Response::Delivery::Now, Pairs({0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})}},
    {"BadDigitWhereThereAreNone",
     Request::Stop,
     {.kind = FaultKind::BadDigit},
     RequestFrame(1, 0xA3),
     {Response::Delivery::Now, Pairs({0xA3})}},
    {"LateReply",
     Request::Stop,
     {.kind = FaultKind::LateReply, .delay = std::chrono::milliseconds(70)},
     RequestFrame(1, 0xA3),
     {Response::Delivery::Late, Pairs({0xA3}), std::chrono::milliseconds(70)}},
    {"StatusByte",
     Request::Status,
     {.kind = FaultKind::StatusByte, .statusByte = 0x31},
     RequestFrame(1, 0xA1),
     {Response::Delivery::Now, Pairs({0xF0, 0xA1, 0, 0, 0, 0, 0, 0, 0x31})}},
    {"SubStatusByte",
     Request::SubStatus,
     {.kind = FaultKind::StatusByte, .statusByte = 0x0B},
     RequestFrame(1 + kSecondAddressOffset, 0xA1),
     {Response::Delivery::Now, Pairs({0x0B})}},
};

class LineFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(LineFaults, StrikeOnceThenTheLineAnswersNormally) {
  const auto& c = GetParam();
  Line line(StillLine());
  const Response clean = [&] {
    Line twin(StillLine());
    return twin.Answer(c.frame);
  }();
  line.InjectFault(1, c.request, c.fault);
  const auto faulty = line.Answer(c.frame);
  EXPECT_EQ(faulty.delivery, c.expected.delivery);
  EXPECT_EQ(faulty.bytes, c.expected.bytes);
  EXPECT_EQ(faulty.delay, c.expected.delay);
  const auto after = line.Answer(c.frame);
  EXPECT_EQ(after.delivery, Response::Delivery::Now);
  EXPECT_EQ(after.bytes, clean.bytes);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LineFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LineFaults, PersistentFaultsStayUntilCleared) {
  Line line(StillLine(2));
  line.InjectFault(1, Request::Status, {.kind = FaultKind::NoReply, .persistent = true});
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(line.Answer(RequestFrame(1, 0xA1)).Replied());
  EXPECT_TRUE(line.Answer(RequestFrame(2, 0xA1)).Replied());  // other dispenser
  EXPECT_TRUE(line.Answer(RequestFrame(1, 0xA3)).Replied());  // other request
  line.ClearFaults(1);
  EXPECT_TRUE(line.Answer(RequestFrame(1, 0xA1)).Replied());
}

TEST(LineFaults, ALostRequestHasNoEffectButACorruptedReplyDoes) {
  Line line(StillLine());
  line.InjectFault(1, Request::Authorize, {.kind = FaultKind::NoReply});
  line.Answer(RequestFrame(1, 0xA4));
  EXPECT_EQ(line.Snapshot(1).state, DispenserState::Idle);
  line.InjectFault(1, Request::Authorize, {.kind = FaultKind::WrongComplement});
  line.Answer(RequestFrame(1, 0xA4));
  EXPECT_EQ(line.Snapshot(1).state, DispenserState::Authorized);
}

TEST(LineFaults, NamesRoundTrip) {
  for (auto kind : {FaultKind::NoReply, FaultKind::WrongComplement, FaultKind::ShortReply,
                    FaultKind::BadDigit, FaultKind::LateReply, FaultKind::StatusByte}) {
    EXPECT_EQ(ParseFault(FaultName(kind)), kind);
  }
  for (int i = 0; i < kRequestKinds; ++i) {
    const auto request = static_cast<Request>(i);
    EXPECT_EQ(ParseRequest(RequestName(request)), request);
  }
  EXPECT_EQ(ParseRequest("STATUS"), Request::Status);
  EXPECT_FALSE(ParseFault("sometimes"));
}

}  // namespace
}  // namespace quorlan::sim::testing
