// The driver on the serial port dispatcher, talking through a real
// pseudo-terminal to the simulator's pty server: a whole fill, and the
// outcomes of line faults as the driver sees them.

#include <gtest/gtest.h>

#include <thread>

#include "driver/TVM30.h"
#include "quorlan/SerialTransport.h"
#include "sim/PtyServer.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::testing {
namespace {

using namespace std::chrono_literals;
using serial::SerialDispatcher;

class EndToEnd : public ::testing::Test {
 protected:
  // The fill moves 2.5 litres a status poll, so the test needs no clock.
  explicit EndToEnd(serial::LineTimeouts timeouts = {.reply = 150ms, .interByte = 50ms},
                    sim::PtyOptions options = {})
      : line(std::make_shared<sim::Line>(sim::LineOptions{
            .dispensers = 2, .volumePerPoll = 2.5, .clock = {}, .startWithoutPrices = false})),
        server(line, options),
        port(timeouts),
        logger(logPlatform),
        driver(port, 0, logger) {
    logger.SetFileName("driver.log");
    server.Start();
    port.MapChannel(1, server.SlavePath());
    driver.OpenChannel(1);
  }

  std::uint8_t Poll(std::uint8_t d) {
    NozzleStatusRecord record;
    driver.GetNozzleStatus(1, d, 1, record);
    return record.bytes[0];
  }

  std::shared_ptr<sim::Line> line;
  sim::PtyServer server;
  SerialDispatcher port;
  MemoryLogPlatform logPlatform;
  Logger logger;
  TVM30 driver;
};

TEST_F(EndToEnd, AWholeFillWithPricesPresetAuthorizationReleaseTransactionAndTotals) {
  ASSERT_TRUE(port.IsOpen(1)) << port.LineProblem(1);
  line->SetTotals(1, 2, {.volume = 123456, .amount = 6543210});

  driver.SetPrice(1, 1, 1, 0, 0, 45.67);
  driver.SetPrice(1, 1, 2, 0, 0, 50.00);
  const auto prices = line->Snapshot(1).prices;
  EXPECT_EQ(prices[0], 4567);
  EXPECT_EQ(prices[1], 5000);

  driver.SetVolumePreset(1, 1, 0, 0, 10.0);
  driver.Start(1, 1, 2);
  EXPECT_EQ(Poll(1), 0xE8);  // authorized, no nozzle up yet

  ASSERT_TRUE(line->Lift(1, 2));
  std::vector<std::uint8_t> codes;
  for (int polls = 0; polls < 20 && (codes.empty() || codes.back() != 0xDA); ++polls) {
    codes.push_back(Poll(1));
  }
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), 0xD2);  // filling on nozzle 2
  EXPECT_EQ(codes.back(), 0xDA);   // limit reached, nozzle 2 still up

  line->Hang(1);
  EXPECT_EQ(Poll(1), 0xC0);
  EXPECT_EQ(line->Count(sim::Request::Release), 1u);
  EXPECT_EQ(line->Snapshot(1).state, sim::DispenserState::Idle);

  double volume = -1, amount = -1;
  driver.GetTransaction(1, 1, volume, amount);
  EXPECT_DOUBLE_EQ(volume, 10.00);
  EXPECT_DOUBLE_EQ(amount, 500.00);

  double volumeTotal = -1, amountTotal = -1;
  driver.ReadTotals(1, 1, 2, volumeTotal, amountTotal, 0, 0);
  EXPECT_EQ(driver.GetLinkState(1), kLinkGood);
  EXPECT_DOUBLE_EQ(volumeTotal, 1244.56);
  EXPECT_DOUBLE_EQ(amountTotal, 65932.10);
}

// The simulator answers one status poll late while polls of two dispensers
// go back to back: no poll ever reports the other dispenser's status, and
// the line is back in step within a few polls. The timeouts leave the
// simulator's thread room to be slow on a loaded machine.
class EndToEndLate : public EndToEnd {
 protected:
  // Paced like a real line: a reply takes its time to arrive, so no flush
  // can drop one that is still on its way.
  EndToEndLate()
      : EndToEnd({.reply = 150ms, .interByte = 200ms, .settle = 100ms}, {.pacing = true}) {}
};

TEST_F(EndToEndLate, ALateReplyNeverPassesForAnotherDispensersStatus) {
  driver.SetVolumePreset(1, 2, 0, 0, 10.0);
  driver.Start(1, 2, 1);  // dispenser 2 authorized, dispenser 1 idle
  const std::uint16_t status[] = {0, driver.PollStatus(1, 1), driver.PollStatus(1, 2)};
  ASSERT_NE(status[1], status[2]);
  line->InjectFault(1, sim::Request::Status, {.kind = sim::FaultKind::LateReply, .delay = 400ms});
  int failures = 0, lastFailure = -1;
  for (int n = 0; n < 10; ++n) {
    const std::uint8_t d = 1 + n % 2;
    try {
      EXPECT_EQ(driver.PollStatus(1, d), status[d]) << "poll " << n << " of dispenser " << int(d);
    } catch (const ESerialIO&) {
      ++failures;
      lastFailure = n;
    }
  }
  EXPECT_GE(failures, 1);
  EXPECT_LE(lastFailure, 5);
}

struct LineFaultCase {
  const char* name;
  sim::Fault fault;
  std::uint32_t error;  // what the dispatcher reports for the status request
};

class EndToEndFault : public EndToEnd, public ::testing::WithParamInterface<LineFaultCase> {};

TEST_P(EndToEndFault, FailsThePollWithTheDispatchersCodeAndTheLineRecovers) {
  const auto& fault = GetParam().fault;
  line->InjectFault(1, sim::Request::Status, fault);
  EXPECT_THROW(driver.PollStatus(1, 1), ESerialIO);
  EXPECT_EQ(port.GetError(1), GetParam().error);
  EXPECT_EQ(driver.GetLinkState(1), kLinkBad);

  // A late reply lands after its exchange ended; the next exchange waits
  // for the line to fall silent, dropping it.
  if (fault.kind == sim::FaultKind::LateReply) std::this_thread::sleep_for(fault.delay + 50ms);
  EXPECT_EQ(driver.PollStatus(1, 1), 0xE1);
  EXPECT_EQ(driver.GetLinkState(1), kLinkGood);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndToEndFault,
    ::testing::Values(
        LineFaultCase{"NoReply", {.kind = sim::FaultKind::NoReply}, kErrorNoReply},
        LineFaultCase{
            "LateReply", {.kind = sim::FaultKind::LateReply, .delay = 300ms}, kErrorNoReply},
        LineFaultCase{
            "WrongComplement", {.kind = sim::FaultKind::WrongComplement}, kErrorBadComplement},
        LineFaultCase{
            "OddShortReply", {.kind = sim::FaultKind::ShortReply, .length = 15}, kErrorBadLength}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorlan::testing
