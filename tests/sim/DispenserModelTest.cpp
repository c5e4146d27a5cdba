// The dispenser model: status bytes through a fill's life, limits, totals,
// automatic nozzles and the clock.

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "link/Bcd.h"

namespace quorlan::sim::testing {
namespace {

// Grade 1 at 45.67 with the given limits in hundredths.
Bytes Preset(std::int64_t money, std::int64_t volume, std::uint8_t grade = 1) {
  Bytes data{grade, 0x67, 0x45};
  for (int k = 0; k < 3; ++k) data.push_back(BcdPair(money, k));
  for (int k = 0; k < 3; ++k) data.push_back(BcdPair(volume, k));
  return data;
}

std::uint8_t StatusByte(Line& line, int d = 1) {
  return line.Answer(RequestFrame(d, 0xA1)).bytes.at(16);
}

bool Send(Line& line, int subAddress, std::uint8_t command, const Bytes& data = {}) {
  return line.Answer(RequestFrame(subAddress, command, data)).Replied();
}

TEST(DispenserModel, WalksThroughAFillsLife) {
  Line line({.dispensers = 1, .clock = {}});
  EXPECT_EQ(StatusByte(line), 0x2F);
  Send(line, 1, 0xA6, Bytes(8, 0));
  EXPECT_EQ(StatusByte(line), 0xA0);
  EXPECT_TRUE(Send(line, 1, 0xA5, Preset(0, 1000)));
  EXPECT_EQ(StatusByte(line), 0x90);
  line.Lift(1, 2);
  EXPECT_EQ(StatusByte(line), 0x99);
  Send(line, 1, 0xA3);
  EXPECT_EQ(StatusByte(line), 0xD0);
  line.Hang(1);
  EXPECT_EQ(StatusByte(line), 0x20);
  Send(line, 1 + kSecondAddressOffset, 0xA2);
  EXPECT_EQ(StatusByte(line), 0xA0);
}

TEST(DispenserModel, NozzleLiftedBeforeAuthorizationStartsTheFillAtOnce) {
  Line line(StillLine());
  line.Lift(1, 3);
  EXPECT_EQ(StatusByte(line), 0xA0);
  EXPECT_EQ(line.Answer(RequestFrame(1 + kSecondAddressOffset, 0xA1)).bytes.at(0), 3);
  Send(line, 1, 0xA4);
  EXPECT_EQ(StatusByte(line), 0x99);
  // A plain authorization fills the lifted nozzle's grade at its price.
  EXPECT_EQ(line.Snapshot(1).authorization->grade, 3);
  EXPECT_EQ(line.Snapshot(1).authorization->price, 3333);
}

TEST(DispenserModel, StopCancelsAWaitingAuthorization) {
  Line line(StillLine());
  Send(line, 1, 0xA4);
  Send(line, 1, 0xA3);
  EXPECT_EQ(StatusByte(line), 0xA0);
  line.Lift(1, 1);
  EXPECT_EQ(StatusByte(line), 0xA0);
}

TEST(DispenserModel, RefusesAuthorizationWhileTheNozzleIsInUse) {
  Line line(StillLine());
  Send(line, 1, 0xA4);
  line.Lift(1, 1);
  EXPECT_FALSE(Send(line, 1, 0xA4));  // filling
  Send(line, 1, 0xA3);
  EXPECT_FALSE(Send(line, 1, 0xA5, Preset(0, 100)));  // stopped, nozzle up
  line.Hang(1);
  // Finished: a new authorization settles the last fill without a release.
  EXPECT_TRUE(Send(line, 1, 0xA4));
  EXPECT_EQ(StatusByte(line), 0x90);
}

TEST(DispenserModel, SecondLiftAndStrayHangChangeNothing) {
  Line line(StillLine());
  EXPECT_TRUE(line.Lift(1, 1));
  EXPECT_FALSE(line.Lift(1, 2));
  EXPECT_EQ(line.Snapshot(1).liftedNozzle, 1);
  line.Hang(1);
  line.Hang(1);
  EXPECT_EQ(line.Snapshot(1).state, DispenserState::Idle);
  Send(line, 1 + kSecondAddressOffset, 0xA2);  // release while idle
  EXPECT_EQ(line.Snapshot(1).state, DispenserState::Idle);
}

struct LimitCase {
  const char* name;
  std::int64_t money, volume;  // limits, hundredths
  double poured;               // litres offered
  std::int64_t expectVolume, expectAmount;
  bool stopped;
};

const LimitCase kLimits[] = {
    {"VolumeLimitReachedExactly", 0, 1050, 10.5, 1050, 47954, true},
    {"VolumeLimitOvershootIsCut", 0, 1050, 12.0, 1050, 47954, true},
    {"BelowTheVolumeLimitKeepsFilling", 0, 1050, 10.49, 1049, 47908, false},
    // 100.00 buys 2.1896 l at 45.67: the amount stops exactly, the volume rounds.
    {"MoneyLimitStopsAtTheAmount", 10000, 999900, 5.0, 219, 10000, true},
    {"MoneyLimitBeforeTheVolumeLimit", 10000, 300, 5.0, 219, 10000, true},
    {"VolumeLimitBeforeTheMoneyLimit", 10000, 100, 5.0, 100, 4567, true},
    {"NoLimitsFillUpToTheDisplay", 0, 0, 50.0, 5000, 228350, false},
};

class Limits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limits, StopTheFillWhereTheySay) {
  const auto& c = GetParam();
  Line line({.dispensers = 1, .flowRate = 1.0, .clock = {}, .startWithoutPrices = false});
  Send(line, 1, 0xA5, Preset(c.money, c.volume));
  line.Lift(1, 1);
  line.Advance(c.poured);
  const auto snapshot = line.Snapshot(1);
  EXPECT_EQ(snapshot.volume, c.expectVolume);
  EXPECT_EQ(snapshot.amount, c.expectAmount);
  EXPECT_EQ(snapshot.state, c.stopped ? DispenserState::Stopped : DispenserState::Filling);
  EXPECT_EQ(snapshot.totals[0], (NozzleTotals{c.expectVolume, c.expectAmount}));
}

INSTANTIATE_TEST_SUITE_P(Fill, Limits, ::testing::ValuesIn(kLimits),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DispenserModel, DisplayLimitEndsAFillWithoutLimits) {
  Line line({.dispensers = 1, .flowRate = 1.0, .clock = {}, .startWithoutPrices = false});
  Send(line, 1, 0xA5, Preset(0, 0, 1));
  line.Lift(1, 1);
  line.Advance(20000);
  // The amount field holds six digits: the fill stops at 9999.99.
  EXPECT_EQ(line.Snapshot(1).amount, kDisplayLimit);
  EXPECT_EQ(line.Snapshot(1).state, DispenserState::Stopped);
}

TEST(DispenserModel, TotalsAccumulatePerNozzleAndRollOver) {
  Line line({.dispensers = 1, .flowRate = 1.0, .clock = {}, .startWithoutPrices = false});
  line.SetTotals(1, 2, {.volume = 9'999'999'900, .amount = 999'999'999'990});
  for (int nozzle : {1, 2, 1}) {
    Send(line, 1, 0xA5, Preset(0, 200));
    line.Lift(1, nozzle);
    line.Advance(0.7);
    line.Advance(1.3);
    line.Hang(1);
  }
  const auto totals = line.Snapshot(1).totals;
  EXPECT_EQ(totals[0], (NozzleTotals{400, 2 * 9134}));
  EXPECT_EQ(totals[1], (NozzleTotals{100, 9124}));  // 10 and 12 digits roll over
  EXPECT_EQ(totals[2], NozzleTotals{});
}

TEST(DispenserModel, ManyTinyPoursAddUpToTheSameFill) {
  Line line({.dispensers = 1, .flowRate = 1.0, .clock = {}, .startWithoutPrices = false});
  Send(line, 1, 0xA5, Preset(0, 1000));
  line.Lift(1, 1);
  for (int i = 0; i < 1000; ++i) line.Advance(0.001);
  EXPECT_EQ(line.Snapshot(1).volume, 100);
  EXPECT_EQ(line.Snapshot(1).amount, 4567);
}

// Each fill that ends is recorded as the dispenser charged it: a preset at
// the preset's grade and price, a plain one at the lifted nozzle's; a power
// loss ends a fill where it was and leaves a cleared display without prices.
TEST(DispenserModel, RecordsEverySaleAsChargedAndAPowerLossEndsOne) {
  Line line({.dispensers = 1, .flowRate = 1.0, .clock = {}, .startWithoutPrices = false});
  Send(line, 1, 0xA5, Preset(0, 100, 2));
  line.Lift(1, 2);
  line.Advance(2);
  line.Hang(1);
  Send(line, 1, 0xA4);
  line.Lift(1, 3);
  line.Advance(0.5);
  line.Hang(1);
  Send(line, 1, 0xA4);
  line.Lift(1, 1);
  line.Advance(0.25);
  line.PowerCycle(1);
  const auto snapshot = line.Snapshot(1);
  ASSERT_EQ(snapshot.sales.size(), 3u);
  EXPECT_EQ(snapshot.sales[0], (Sale{2, 2, 4567, 100, 4567}));
  EXPECT_EQ(snapshot.sales[1], (Sale{3, 3, 3333, 50, 1667}));
  EXPECT_EQ(snapshot.sales[2], (Sale{1, 1, 1111, 25, 278}));
  EXPECT_EQ(snapshot.state, DispenserState::NoPrices);
  EXPECT_EQ(snapshot.volume, 0);
  EXPECT_EQ(snapshot.liftedNozzle, 0);
  EXPECT_EQ(snapshot.totals[0], (NozzleTotals{25, 278}));
  EXPECT_EQ(StatusByte(line), 0x2F);
}

TEST(DispenserModel, TheClockDrivesTheFillAtTheFlowRate) {
  double now = 100;
  Line line({.dispensers = 2,
             .flowRate = 0.5,
             .clock = [&now] { return now; },
             .startWithoutPrices = false});
  Send(line, 1, 0xA5, Preset(0, 1000));
  line.Lift(1, 1);
  now += 3;
  EXPECT_EQ(line.Snapshot(1).volume, 150);
  EXPECT_EQ(line.Snapshot(2).volume, 0);  // nothing authorized there
  now += 100;
  EXPECT_EQ(line.Snapshot(1).volume, 1000);
  EXPECT_EQ(line.Snapshot(1).state, DispenserState::Stopped);
}

TEST(AutoNozzle, LiftsAfterAuthorizationAndHangsWhenTheFillEnds) {
  Line line({.dispensers = 1,
             .volumePerPoll = 1.0,
             .clock = {},
             .autoNozzle = true,
             .startWithoutPrices = false});
  Send(line, 1, 0xA5, Preset(0, 250, 2));
  Bytes statuses;
  for (int i = 0; i < 6; ++i) statuses.push_back(StatusByte(line));
  EXPECT_EQ(statuses, (Bytes{0x90, 0x99, 0x99, 0xD0, 0x20, 0x20}));
  EXPECT_EQ(line.Snapshot(1).totals[1].volume, 250);  // the grade's nozzle
  Send(line, 1 + kSecondAddressOffset, 0xA2);
  EXPECT_EQ(StatusByte(line), 0xA0);
}

TEST(AutoNozzle, EndsAFillWithoutLimitsAtTheConfiguredVolume) {
  Line line({.dispensers = 1,
             .volumePerPoll = 2.0,
             .clock = {},
             .autoNozzle = true,
             .autoFillVolume = 5,
             .startWithoutPrices = false});
  Send(line, 1, 0xA4);
  for (int i = 0; i < 5; ++i) StatusByte(line);
  EXPECT_EQ(line.Snapshot(1).state, DispenserState::Finished);
  EXPECT_EQ(line.Snapshot(1).volume, 600);
}

TEST(LineSetUp, RejectsWhatItCannotModel) {
  EXPECT_THROW(Line({.dispensers = 0}), std::invalid_argument);
  EXPECT_THROW(Line({.dispensers = 33}), std::invalid_argument);
  EXPECT_THROW(Line({.flowRate = -1}), std::invalid_argument);
  Line line(StillLine(2));
  EXPECT_THROW(line.Lift(3, 1), std::out_of_range);
  EXPECT_THROW(line.Lift(1, 9), std::out_of_range);
  EXPECT_THROW(line.Lift(0, 1), std::out_of_range);
  EXPECT_THROW(line.Snapshot(3), std::out_of_range);
  EXPECT_THROW(line.SetTotals(1, 0, {}), std::out_of_range);
  EXPECT_THROW(line.SetTotals(1, 1, {.volume = -1}), std::invalid_argument);
  EXPECT_THROW(line.InjectFault(5, Request::Status, {}), std::out_of_range);
  EXPECT_EQ(line.Snapshot(1).liftedNozzle, 0);
}

}  // namespace
}  // namespace quorlan::sim::testing
