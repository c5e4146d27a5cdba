// Each fault kind, through the real driver: the outcome the driver promises.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "SimTestSupport.h"
#include "commands/Messages.h"

namespace quorlan::sim::testing {
namespace {

struct Operation {
  const char* name;
  Request request;
  std::function<void(DriverOnSim&)> call;
  std::string_view message;
};

const Operation kOperations[] = {
    {"StatusPoll", Request::Status, [](DriverOnSim& s) { s.driver.PollStatus(1, 1); },
     messages::kStatusRequest},
    {"SubStatus", Request::SubStatus, [](DriverOnSim& s) { s.Poll(); }, messages::kStatusRequest},
    {"GradeOnePrice", Request::GradeOnePrice, [](DriverOnSim& s) { s.Poll(); },
     messages::kStatusRequest},
    {"PriceTable", Request::PriceTable,
     [](DriverOnSim& s) { s.driver.SetPrice(1, 1, 1, 0, 0, 45.67); }, messages::kSetPrice},
    {"PresetAuthorization", Request::PresetAuthorize,
     [](DriverOnSim& s) { s.driver.Start(1, 1, 1); }, messages::kCantStart},
    {"PlainAuthorization", Request::Authorize,
     [](DriverOnSim& s) { s.driver.Authorize(1, 1, 1, 0); }, messages::kCantStart},
    {"Stop", Request::Stop, [](DriverOnSim& s) { s.driver.Stop(1, 1, 0); }, messages::kStop},
    {"DataRequest", Request::Status,
     [](DriverOnSim& s) {
       double amount = 0;
       s.driver.ReadTransaction(1, 1, amount);
     },
     messages::kTransactionRequest},
    {"Totals", Request::Totals,
     [](DriverOnSim& s) {
       double volume = 0, amount = 0;
       s.driver.ReadTotals(1, 1, 1, volume, amount, 0, 0);
     },
     messages::kTotalsRequest},
};

struct FailedExchange {
  const char* name;
  FaultKind kind;
  std::uint32_t error;
  const char* logged;
};

const FailedExchange kFailures[] = {
    {"NoReply", FaultKind::NoReply, kErrorNoReply, "Error connect BS: 1F4"},
    {"WrongComplement", FaultKind::WrongComplement, kErrorBadComplement, "Error connect BS: F6"},
    {"ShortReply", FaultKind::ShortReply, kErrorBadLength, "Error connect BS: DB"},
    {"LateReply", FaultKind::LateReply, kErrorNoReply, "Error connect BS: 1F4"},
};

class ExchangeFaults : public ::testing::TestWithParam<std::tuple<Operation, FailedExchange>> {};

TEST_P(ExchangeFaults, RaiseTheOperationsErrorAndMarkTheLinkBad) {
  const auto& [operation, failure] = GetParam();
  DriverOnSim sim(StillLine());
  sim.line->InjectFault(1, operation.request, {.kind = failure.kind});
  try {
    operation.call(sim);
    ADD_FAILURE() << "no exception";
  } catch (const ESerialIO& error) {
    EXPECT_EQ(error.Message(), operation.message);
  }
  EXPECT_EQ(sim.port.GetError(1), failure.error);
  EXPECT_EQ(sim.driver.GetLinkState(1), kLinkBad);
  const auto lines = sim.platform.Texts("driver.log");
  EXPECT_NE(std::find(lines.begin(), lines.end(), failure.logged), lines.end());
  // The fault struck once: the same operation now goes through.
  EXPECT_NO_THROW(operation.call(sim));
  EXPECT_EQ(sim.driver.GetLinkState(1), kLinkGood);
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, ExchangeFaults,
                         ::testing::Combine(::testing::ValuesIn(kOperations),
                                            ::testing::ValuesIn(kFailures)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  std::get<1>(info.param).name;
                         });

struct TotalsFault {
  const char* name;
  Fault fault;
  std::uint8_t linkState;
};

// A bad digit marks the link bad; a reply of one pair passes the check but
// lacks the counters. Neither raises, and both totals stay 0.0.
const TotalsFault kTotalsFaults[] = {
    {"BadDigit", {.kind = FaultKind::BadDigit}, kLinkBad},
    {"OnePair", {.kind = FaultKind::ShortReply, .length = 2}, kLinkGood},
};

class TotalsFaults : public ::testing::TestWithParam<TotalsFault> {};

TEST_P(TotalsFaults, LeaveBothTotalsAtZeroWithoutAnError) {
  DriverOnSim sim(StillLine());
  sim.line->SetTotals(1, 1, {.volume = 1234, .amount = 5678});
  sim.line->InjectFault(1, Request::Totals, GetParam().fault);
  double volume = -1, amount = -1;
  EXPECT_NO_THROW(sim.driver.ReadTotals(1, 1, 1, volume, amount, 0, 0));
  EXPECT_EQ(volume, 0.0);
  EXPECT_EQ(amount, 0.0);
  EXPECT_EQ(sim.driver.GetLinkState(1), GetParam().linkState);
  sim.driver.ReadTotals(1, 1, 1, volume, amount, 0, 0);
  EXPECT_EQ(volume, 12.34);
  EXPECT_EQ(amount, 56.78);
}

INSTANTIATE_TEST_SUITE_P(ContentFaults, TotalsFaults, ::testing::ValuesIn(kTotalsFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ContentFaults, BadDigitInTheStatusIsTakenAtFaceValue) {
  DriverOnSim sim(StillLine());
  sim.line->InjectFault(1, Request::Status, {.kind = FaultKind::BadDigit});
  sim.driver.PollStatus(1, 1);
  double volume = 0, amount = 0;
  sim.driver.GetTransaction(1, 1, volume, amount);
  EXPECT_EQ(amount, 1.00);  // hundredths byte 0xA0 counts as 100
  EXPECT_EQ(volume, 0.0);
}

TEST(ContentFaults, UnknownStatusBytePassesThroughAndLeavingItReleases) {
  DriverOnSim sim(StillLine());
  sim.line->InjectFault(1, Request::Status, {.kind = FaultKind::StatusByte, .statusByte = 0x31});
  EXPECT_EQ(sim.Poll(), 0x31);
  sim.line->InjectFault(1, Request::Status, {.kind = FaultKind::StatusByte, .statusByte = 0x20});
  EXPECT_EQ(sim.Poll(), 0xC0);
  EXPECT_EQ(sim.line->Count(Request::Release), 1u);
}

TEST(ContentFaults, SubStatusByteGivesTheLowThreeBits) {
  DriverOnSim sim(StillLine());
  sim.line->InjectFault(1, Request::SubStatus, {.kind = FaultKind::StatusByte, .statusByte = 0x0B});
  NozzleStatusRecord record;
  sim.driver.GetNozzleStatus(1, 1, 1, record);
  EXPECT_EQ(record.bytes[0], 0xE3);
  EXPECT_EQ(record.bytes[14], 3);
}

TEST(ContentFaults, StatusReplyOnePairShortIsReportedAsNoStatus) {
  DriverOnSim sim({.dispensers = 1, .flowRate = 1.0, .clock = {}, .startWithoutPrices = false});
  sim.driver.SetVolumePreset(1, 1, 0, 0, 5.0);
  sim.driver.Start(1, 1, 1);
  sim.line->Lift(1, 1);
  sim.line->Advance(1.0);
  sim.line->InjectFault(1, Request::Status, {.kind = FaultKind::ShortReply, .length = 16});
  EXPECT_EQ(sim.driver.PollStatus(1, 1), 0);
  double volume = 0, amount = 0;
  sim.driver.GetTransaction(1, 1, volume, amount);
  EXPECT_EQ(volume, 0.0);  // the short reply stored nothing
  EXPECT_EQ(sim.driver.PollStatus(1, 1), 0xD1);
  sim.driver.GetTransaction(1, 1, volume, amount);
  EXPECT_EQ(volume, 1.0);
}

TEST(ContentFaults, AFailedReleaseIsLoggedAndThePollStillReportsFinished) {
  DriverOnSim sim(StillLine());
  sim.line->InjectFault(1, Request::Release, {.kind = FaultKind::NoReply});
  sim.line->InjectFault(1, Request::Status, {.kind = FaultKind::StatusByte, .statusByte = 0x20});
  EXPECT_EQ(sim.Poll(), 0xC0);
  const auto lines = sim.platform.Texts("driver.log");
  EXPECT_NE(std::find(lines.begin(), lines.end(), " " + std::string(messages::kRelease)),
            lines.end());
}

}  // namespace
}  // namespace quorlan::sim::testing
