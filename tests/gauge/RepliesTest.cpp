// SPDX-License-Identifier: Apache-2.0
// The gauge's replies decoded, and every way a reply can be wrong refused
// with its reason.

#include <gtest/gtest.h>

#include <limits>

#include "gauge/Replies.h"
#include "gauge/Units.h"

namespace quorlan::gauge {
namespace {

const Command kTank1 = BuildCommand(Function::Inventory, Format::Computer, 1, "");
const Command kAllInventory = BuildCommand(Function::Inventory, Format::Computer, 0, "");

// SOH, body, "&&", its checksum, ETX.
std::string Frame(const std::string& body) {
  const std::string message = kSoh + body + std::string(kDataEnd);
  return message + Hex(Checksum(message), 4) + kEtx;
}

std::string Floats(std::initializer_list<float> values) {
  std::string text;
  for (float value : values) text += HexFloat(value);
  return text;
}

// A tank record: number, product, status, field count and the figures.
std::string Record(const std::string& tank, std::initializer_list<float> figures,
                   const std::string& count = "07", const std::string& status = "0000") {
  return tank + "1" + status + count + Floats(figures);
}

const std::initializer_list<float> kGood = {5329, 5413, 4671, 48.97f, 0, 37.39f, 0};

// The figures are those of the inventory history a TLS4 prints for tank 1
// ("Serial Interface Manual, TLS4/TLS-450", 577013-950 rev. L, function
// 2E4, https://manualshive.com/ru/manual/veeder-root/tls-4-series/3804630?page=123:
// "07-01-31 03:00 5329 5413 48.97 0.00 0.00 37.39"), packed as the in-tank
// inventory's computer format lays out a tank: TT, product, 4 hex status
// digits, the hex field count, then volume, TC volume, ullage, height,
// water, temperature and water volume. The frame and its checksum are
// written out by hand.
TEST(GaugeReplies, DecodesAnInventoryWrittenOutByHand) {
  const std::string frame =
      "\x01i20101070131030001100000745A6880045A928004591F8004243E1480000000042158F5C00000000&&EF2F"
      "\x03";
  const auto parsed = ParseInventory(frame, kTank1);
  ASSERT_FALSE(ProblemOf(parsed)) << ProblemOf(parsed)->reason;
  const auto& inventory = std::get<Inventory>(parsed);
  EXPECT_EQ(inventory.time, (GaugeTime{2007, 1, 31, 3, 0}));
  ASSERT_EQ(inventory.tanks.size(), 1u);
  const auto& tank = inventory.tanks[0];
  EXPECT_EQ(tank.tank, 1);
  EXPECT_EQ(tank.product, '1');
  EXPECT_FALSE(tank.delivering);
  EXPECT_DOUBLE_EQ(tank.volume, 5329);
  EXPECT_DOUBLE_EQ(tank.tcVolume, 5413);
  EXPECT_DOUBLE_EQ(tank.ullage, 4671);
  EXPECT_FLOAT_EQ(float(tank.height), 48.97f);
  EXPECT_FLOAT_EQ(float(tank.temperature), 37.39f);
  EXPECT_EQ(tank.waterVolume, 0.0);
}

// The in-tank status of the TLS2 manual (577013-767 rev. H, function 205,
// https://www.easymanua.ls/veeder-root/tls2/manual/670431?p=32):
// <SOH>i205TTYYMMDDHHmmTTnnAA...&&CCCC<ETX>, nn the hex count of active
// alarms, AA their codes (03 high water, 05 low product, ...).
TEST(GaugeReplies, DecodesTheInTankStatusAsTheManualLaysItOut) {
  const auto all = BuildCommand(Function::Alarms, Format::Computer, 0, "");
  const auto parsed = ParseAlarms("\x01i205002205011457010002020503&&FA0B\x03", all);
  ASSERT_FALSE(ProblemOf(parsed));
  const auto& report = std::get<AlarmReport>(parsed);
  EXPECT_EQ(report.time, (GaugeTime{2022, 5, 1, 14, 57}));
  ASSERT_EQ(report.tanks.size(), 2u);
  EXPECT_TRUE(report.tanks[0].codes.empty());  // "1 ALL FUNCTIONS NORMAL"
  EXPECT_EQ(report.tanks[1].codes, (std::vector<int>{alarms::kLowProduct, alarms::kHighWater}));
  EXPECT_EQ(AlarmName(5), "low product");
  EXPECT_EQ(AlarmName(42), "alarm 42");
}

TEST(GaugeReplies, DecodesDeliveriesWithAndWithoutHeights) {
  const auto all = BuildCommand(Function::Deliveries, Format::Computer, 0, "");
  const std::string withHeights =
      "2601020300"
      "2601020330"
      "0A" +
      Floats({5000, 5010, 10, 14, 15000, 15020, 10, 13, 900, 1900});
  const std::string without =
      "2601030300"
      "2601030330"
      "08" +
      Floats({3000, 3005, 0, 15, 8000, 8004, 0, 15});
  const auto parsed = ParseDeliveries(Frame("i202002601040000"
                                            "01102" +
                                            withHeights + without + "02200"),
                                      all);
  ASSERT_FALSE(ProblemOf(parsed)) << ProblemOf(parsed)->reason;
  const auto& deliveries = std::get<DeliveryReport>(parsed).deliveries;
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(deliveries[0].started, (GaugeTime{2026, 1, 2, 3, 0}));
  EXPECT_EQ(deliveries[0].ended, (GaugeTime{2026, 1, 2, 3, 30}));
  EXPECT_DOUBLE_EQ(deliveries[0].end.tcVolume - deliveries[0].start.tcVolume, 10010);
  EXPECT_EQ(deliveries[0].end.height, 1900.0);
  EXPECT_FALSE(deliveries[1].start.height);
}

// A printed inventory for a gauge that only prints: the rows' figures read
// from the right, the product label between the tank and them.
TEST(GaugeReplies, ReadsThePrintedInventory) {
  const auto display = BuildCommand(Function::Inventory, Format::Display, 0, "");
  const std::string report =
      "\x01\r\nI20100\r\n22-05-01 14:57\r\nSTATION HEADER 1....\r\n\r\nIN-TANK INVENTORY\r\n\r\n"
      "TANK PRODUCT             VOLUME TC VOLUME   ULLAGE   HEIGHT    WATER     TEMP\r\n"
      "  1  REGULAR UNLEADED      5329      5413     4671    48.97     0.00    37.39\r\n"
      "  2  DIESEL               1,204     1,198   11,296    20.10     1.25    -2.50\r\n\x03";
  const auto parsed = ParseInventory(report, display);
  ASSERT_FALSE(ProblemOf(parsed)) << ProblemOf(parsed)->reason;
  const auto& tanks = std::get<Inventory>(parsed).tanks;
  ASSERT_EQ(tanks.size(), 2u);
  EXPECT_EQ(tanks[0].product, 'R');
  EXPECT_DOUBLE_EQ(tanks[0].height, 48.97);
  EXPECT_DOUBLE_EQ(tanks[1].volume, 1204);
  EXPECT_DOUBLE_EQ(tanks[1].temperature, -2.5);
  EXPECT_FALSE(tanks[1].waterVolume);

  const struct {
    std::string text;
    std::string reason;
  } bad[] = {
      {"\x01\r\nI20101\r\nTANK PRODUCT VOLUME TC VOLUME ULLAGE HEIGHT WATER TEMP\r\n  1 A 1 1 1 1 "
       "1 1\r\n\x03",
       "the report does not echo I20100"},
      {"\x01\r\nI20100\r\nTANK PRODUCT VOLUME TC VOLUME ULLAGE HEIGHT WATER TEMP\r\n  1 A 1 1 "
       "1\r\n\x03",
       "a cut tank row"},
      {"\x01\r\nI20100\r\nTANK PRODUCT VOLUME TC VOLUME ULLAGE HEIGHT WATER TEMP\r\n  1 A 1 1 1 "
       "1 1 nan\r\n\x03",
       "a tank row with a figure that is not a number"},
      {"\x01\r\nI20100\r\nTANK PRODUCT VOLUME TC VOLUME ULLAGE HEIGHT WATER TEMP\r\n  1 A -5 1 1 "
       "1 1 1\r\n\x03",
       "negative volume"},
      {"\x01\r\nI20100\r\nSTATUS REPORT\r\n\x03", "no tank in the report"},
  };
  for (const auto& [text, reason] : bad) {
    const auto refused = ParseInventory(text, display);
    ASSERT_TRUE(ProblemOf(refused)) << reason;
    EXPECT_EQ(ProblemOf(refused)->reason, reason);
  }
}

// Every way a reply goes wrong, each refused with its reason: none of them
// ever becomes a reading.
TEST(GaugeReplies, RefusesEveryBadReplyWithItsReason) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  const std::string good = Frame("i201012601020304" + Record("01", kGood));
  std::string badChecksum = good;
  badChecksum[badChecksum.size() - 2] = badChecksum[badChecksum.size() - 2] == '0' ? '1' : '0';
  const struct {
    std::string frame;
    const Command* command;
    std::string reason;
  } cases[] = {
      {badChecksum, &kTank1, "wrong checksum"},
      {good.substr(0, good.size() - 1), &kTank1, "no frame"},
      {Frame("i202012601020304" + Record("01", kGood)), &kTank1, "a reply to i202 instead of i201"},
      {Frame("i201022601020304" + Record("02", kGood)), &kTank1, "tank 02 answered for 01"},
      {Frame("i201012601020304" + Record("02", kGood)), &kTank1, "tank 02 answered for 01"},
      {Frame("i201002601020304" + Record("02", kGood) + Record("01", kGood)), &kAllInventory,
       "tank 01 out of order"},
      {Frame("i201002601020304" + Record("02", kGood) + Record("02", kGood)), &kAllInventory,
       "tank 02 out of order"},
      {Frame("i201012613020304" + Record("01", kGood)), &kTank1, "a reply with an invalid time"},
      {Frame("i201012601020304"), &kTank1, "no tank in the reply"},
      {Frame("i20101"), &kTank1, "a reply too short"},
      {"\x01i201012601020304" + Record("01", kGood) + "&&ZZZZ\x03", &kTank1, "wrong checksum"},
      {"\x01"
       "9999FF1B\x03",
       &kTank1, "the gauge did not understand"},
      {"\x01i20101260102030401100000"
       "07\x03",
       &kTank1, "a reply without its end mark"},
      {Frame("i201012601020304" + Record("01", kGood, "06")), &kTank1, "too few inventory fields"},
      {Frame("i201012601020304" + Record("01", {1, 2, 3})), &kTank1,
       "a cut or malformed inventory field"},
      {Frame("i201012601020304" + Record("01", kGood).substr(0, 20) + "ZZ" +
             Record("01", kGood).substr(22)),
       &kTank1, "a cut or malformed inventory field"},
      {Frame("i201012601020304011"), &kTank1, "a cut tank record"},
      {Frame("i201012601020304" + Record("01", {nan, 1, 1, 1, 0, 15, 0})), &kTank1,
       "volume is not a number"},
      {Frame("i201012601020304" + Record("01", {1, 1, 1, 1, 0, infinity, 0})), &kTank1,
       "temperature is not a number"},
      {Frame("i201012601020304" + Record("01", {-1, 1, 1, 1, 0, 15, 0})), &kTank1,
       "negative volume"},
      {Frame("i201012601020304" + Record("01", {1, 1, 1, -0.5f, 0, 15, 0})), &kTank1,
       "negative height"},
      {Frame("i201012601020304" + Record("01", {1, 1, -3, 1, 0, 15, 0})), &kTank1,
       "negative ullage"},
      {Frame("i201012601020304" + Record("01", {1, 1, 1, 1, 0, 15, -2})), &kTank1,
       "negative water volume"},
  };
  for (const auto& [frame, command, reason] : cases) {
    const auto parsed = ParseInventory(frame, *command);
    ASSERT_TRUE(ProblemOf(parsed)) << reason;
    EXPECT_EQ(ProblemOf(parsed)->reason, reason);
  }
  EXPECT_FALSE(ProblemOf(ParseInventory(good, kTank1)));
  // A frozen-below-zero temperature is a reading, not a fault.
  EXPECT_FALSE(ProblemOf(
      ParseInventory(Frame("i201012601020304" + Record("01", {1, 1, 1, 1, 0, -12, 0})), kTank1)));
}

// The same for the delivery and alarm reports.
TEST(GaugeReplies, RefusesBadDeliveriesAndAlarmsWithTheirReason) {
  const auto deliveries = BuildCommand(Function::Deliveries, Format::Computer, 1, "");
  const auto alarms = BuildCommand(Function::Alarms, Format::Computer, 1, "");
  const std::string times =
      "2601020300"
      "2601020330";
  const std::string ten = Floats({5000, 5010, 10, 14, 15000, 15020, 10, 13, 900, 1900});
  const struct {
    std::string frame;
    const Command* command;
    std::string reason;
  } cases[] = {
      {Frame("i202012601040000"
             "011"),
       &deliveries, "a cut delivery record"},
      {Frame("i202012601040000"
             "01101" +
             times),
       &deliveries, "a cut delivery"},
      {Frame("i202012601040000"
             "01101"
             "2601020300"
             "2613020330"
             "0A" +
             ten),
       &deliveries, "a delivery with an invalid time"},
      {Frame("i202012601040000"
             "01101" +
             times + "07" + ten.substr(0, 56)),
       &deliveries, "too few delivery fields"},
      {Frame("i202012601040000"
             "01101" +
             times + "0A" + ten.substr(0, 72)),
       &deliveries, "a cut or malformed delivery field"},
      {Frame("i202012601040000"
             "01101" +
             times + "08" + Floats({-5, 5010, 10, 14, 15000, 15020, 10, 13})),
       &deliveries, "negative delivery volume"},
      {Frame("i202012601040000"
             "01101" +
             times + "08" +
             Floats({5, 5010, 10, 14, 15000, std::numeric_limits<float>::quiet_NaN(), 10, 13})),
       &deliveries, "delivery TC volume is not a number"},
      {Frame("i202012601040000"
             "02100"),
       &deliveries, "tank 02 answered for 01"},
      {Frame("i205012601040000"
             "01"),
       &alarms, "a cut alarm record"},
      {Frame("i205012601040000"
             "0102"
             "05"),
       &alarms, "a cut or malformed alarm code"},
      {Frame("i205012601040000"
             "0101"
             "5X"),
       &alarms, "a cut or malformed alarm code"},
      {Frame("i205022601040000"
             "0100"),
       &alarms, "tank 02 answered for 01"},
      {Frame("i201012601040000"
             "0100"),
       &alarms, "a reply to i201 instead of i205"},
  };
  const auto refusal = [](const std::string& frame, const Command& command) {
    const auto take = [](const auto& parsed) {
      return ProblemOf(parsed) ? ProblemOf(parsed)->reason : std::string("taken");
    };
    return command.function == Function::Alarms ? take(ParseAlarms(frame, command))
                                                : take(ParseDeliveries(frame, command));
  };
  for (const auto& [frame, command, reason] : cases) EXPECT_EQ(refusal(frame, *command), reason);
}

TEST(GaugeUnits, ConvertsAConsoleSetToUsUnits) {
  Inventory inventory;
  inventory.tanks.push_back({.tank = 1,
                             .volume = 1000,
                             .tcVolume = 990,
                             .ullage = 500,
                             .height = 40,
                             .water = 1,
                             .temperature = 59,
                             .waterVolume = 2});
  ToMetric(inventory, Units::Us);
  const auto& tank = inventory.tanks[0];
  EXPECT_DOUBLE_EQ(tank.volume, 3785.411784);
  EXPECT_DOUBLE_EQ(tank.height, 1016);
  EXPECT_DOUBLE_EQ(tank.water, 25.4);
  EXPECT_DOUBLE_EQ(tank.temperature, 15);
  EXPECT_DOUBLE_EQ(*tank.waterVolume, 2 * kLitresPerUsGallon);
}

}  // namespace
}  // namespace quorlan::gauge
