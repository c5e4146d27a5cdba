// Every request the driver sends, answered byte for byte.

#include <gtest/gtest.h>

#include <functional>

#include "SimTestSupport.h"

namespace quorlan::sim::testing {
namespace {

constexpr int kSecond = kSecondAddressOffset;

struct ReplyCase {
  const char* name;
  std::function<void(Line&)> before;
  Bytes request;
  Bytes replyInfo;
};

void NoSetup(Line&) {}

// Preset authorization for grade 1 at 45.67, no money limit, 10.50 litres.
Bytes PresetData() {
  return {0x01, 0x67, 0x45, 0x00, 0x00, 0x00, 0x50, 0x10, 0x00};
}

void LoadPrices(Line& line, int dispenser) {
  line.Answer(RequestFrame(dispenser, 0xA6, Bytes(8, 0)));
}

void FillTwoAndAHalfLitres(Line& line) {
  LoadPrices(line, 1);
  line.Answer(RequestFrame(1, 0xA5, PresetData()));
  line.Lift(1, 1);
  line.Advance(2.5);  // 1 litre a second
}

const ReplyCase kReplies[] = {
    {"StatusOfFreshDispenserWithoutPrices",
     NoSetup,
     RequestFrame(1, 0xA1),
     {0xF0, 0xA1, 0, 0, 0, 0, 0, 0, 0x2F}},
    {"StatusDuringFill",
     FillTwoAndAHalfLitres,
     RequestFrame(1, 0xA1),
     // 2.50 l at 45.67 = 114.175, shown as 114.18
     {0xF0, 0xA1, 0x18, 0x14, 0x01, 0x50, 0x02, 0x00, 0x99}},
    {"StatusOfDispenser17", NoSetup, RequestFrame(17, 0xA1), {0x00, 0xA1, 0, 0, 0, 0, 0, 0, 0x2F}},
    {"SubStatusWithNozzleHung", NoSetup, RequestFrame(1 + kSecond, 0xA1), {0x00}},
    {"SubStatusWithNozzle3Lifted",
     [](Line& line) { line.Lift(32, 3); },
     RequestFrame(32 + kSecond, 0xA1),
     {0x03}},
    {"Release", NoSetup, RequestFrame(32 + kSecond, 0xA2), {0xA2}},
    {"Stop", NoSetup, RequestFrame(17, 0xA3), {0xA3}},
    {"PriceTable",
     NoSetup,
     RequestFrame(1 + kSecond, 0xA3,
                  {0x45, 0x67, 0x45, 0x67, 0x22, 0x22, 0x22, 0x22, 0x33, 0x33, 0x33, 0x33, 0x44,
                   0x44, 0x44, 0x44}),
     {0xA3}},
    {"GradeOnePrice", NoSetup, RequestFrame(2, 0xA6, {0x67, 0x45, 0, 0, 0, 0, 0, 0}), {0xF1, 0xA6}},
    {"PlainAuthorization", [](Line& line) { LoadPrices(line, 2); }, RequestFrame(2, 0xA4), {0xA4}},
    {"PresetAuthorization",
     [](Line& line) { LoadPrices(line, 1); },
     RequestFrame(1, 0xA5, PresetData()),
     {0xF0, 0xA5}},
    {"TotalsOfNozzle2",
     [](Line& line) { line.SetTotals(2, 2, {.volume = 123456789, .amount = 9876543210}); },
     RequestFrame(2, 0xA9, {0x42}),
     {0x89, 0x67, 0x45, 0x23, 0x01, 0x10, 0x32, 0x54, 0x76, 0x98, 0x00}},
    {"TotalsOfNozzle8", NoSetup, RequestFrame(1, 0xA9, {0x4E}), Bytes(11, 0)},
};

class ReplyBytes : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyBytes, AnswersInPairs) {
  Line line({.dispensers = 32, .flowRate = 1.0, .clock = {}});
  GetParam().before(line);
  const auto response = line.Answer(GetParam().request);
  EXPECT_EQ(response.delivery, Response::Delivery::Now);
  EXPECT_EQ(response.bytes, Pairs(GetParam().replyInfo));
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, ReplyBytes, ::testing::ValuesIn(kReplies),
                         [](const auto& info) { return std::string(info.param.name); });

struct SilentCase {
  const char* name;
  Bytes request;
};

const SilentCase kSilent[] = {
    {"BadComplement", {0xF0, 0x0F, 0xA1, 0x5F}},
    {"OddLength", {0xF0, 0x0F, 0xA1}},
    {"AddressPairOnly", {0xF0, 0x0F}},
    {"DispenserBeyondTheLine", RequestFrame(3, 0xA1)},
    {"AddressOfNoDispenser", RequestFrame(0x50, 0xA1)},
    {"UnknownCommand", RequestFrame(1, 0xA7)},
    {"ReleaseAtOwnAddress", RequestFrame(1, 0xA2)},
    {"MissingDataByte", RequestFrame(1, 0xA9)},
    {"ExtraDataByte", RequestFrame(1, 0xA1, {0x00})},
    {"TotalsOfNozzle9", RequestFrame(1, 0xA9, {0x50})},
    {"OddTotalsSelector", RequestFrame(1, 0xA9, {0x41})},
    {"PriceTableCopiesDiffer",
     RequestFrame(1 + kSecond, 0xA3, {0x45, 0x67, 0x45, 0x68, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
    {"PriceTableNotDecimal", RequestFrame(1 + kSecond, 0xA3, Bytes(16, 0x1A))},
    {"PresetGradeZero", RequestFrame(1, 0xA5, Bytes(9, 0))},
    {"PresetGradeNine", RequestFrame(1, 0xA5, {9, 0, 0, 0, 0, 0, 0, 0, 0})},
    {"PresetLimitNotDecimal", RequestFrame(1, 0xA5, {1, 0, 0, 0, 0, 0, 0xAB, 0, 0})},
    {"AuthorizationWithoutPrices", RequestFrame(2, 0xA4)},
};

class SilentRequests : public ::testing::TestWithParam<SilentCase> {};

TEST_P(SilentRequests, GetNoReplyAndChangeNothing) {
  Line line({.dispensers = 2, .clock = {}});
  line.Answer(RequestFrame(1, 0xA6, {0x11, 0x11, 0, 0, 0, 0, 0, 0}));
  const auto before = line.Snapshot(1);
  EXPECT_FALSE(line.Answer(GetParam().request).Replied());
  const auto after = line.Snapshot(1);
  EXPECT_EQ(after.state, before.state);
  EXPECT_EQ(after.prices, before.prices);
  EXPECT_EQ(line.Snapshot(2).state, DispenserState::NoPrices);
}

INSTANTIATE_TEST_SUITE_P(GarbageAndRefusals, SilentRequests, ::testing::ValuesIn(kSilent),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AddressBytes, EveryByteMapsToAtMostOneDispenserAddress) {
  int owners = 0;
  for (int byte = 0; byte < 256; ++byte) {
    const auto target = DecodeAddress(static_cast<std::uint8_t>(byte));
    if (!target) continue;
    ++owners;
    const int sub = target->dispenser + (target->second ? kSecond : 0);
    EXPECT_EQ(AddressByte(sub), byte);
  }
  EXPECT_EQ(owners, 64);
}

TEST(PriceDownloads, StoreWhatTheDriverSends) {
  Line line({.dispensers = 1, .clock = {}});
  line.Answer(RequestFrame(1 + kSecond, 0xA3,
                           {0x45, 0x67, 0x45, 0x67, 0x22, 0x22, 0x22, 0x22, 0x33, 0x33, 0x33, 0x33,
                            0x01, 0x00, 0x01, 0x00}));
  EXPECT_EQ(line.Snapshot(1).prices, (std::array<std::int32_t, 8>{4567, 2222, 3333, 100}));
  line.Answer(RequestFrame(1, 0xA6, {0x99, 0x12, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(line.Snapshot(1).prices[0], 1299);
  EXPECT_EQ(line.Snapshot(1).state, DispenserState::Idle);
}

}  // namespace
}  // namespace quorlan::sim::testing
