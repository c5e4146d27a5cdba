// Every table entry called by offset as a host calls it: stack cleanup,
// results in AL/AX/EAX/ST(0) and through hidden pointers, out parameters.
#include <cstring>
#include <functional>

#include "base/Win1251.h"
#include "win32/HostDriver.h"

namespace quorlan::hosttest {
namespace {

struct HostBuffers {
  double volume = -1, amount = -1;
  std::int32_t value = -1;
  std::uint8_t shortString[256]{};
  std::uint8_t record[16]{};
};

struct EntryShape {
  int index;
  const char* name;
  std::function<RegisterCall(HostBuffers&)> arguments;  // target and EAX filled in later
  bool floatResult = false;
};

std::vector<std::uint32_t> WithDouble(std::vector<std::uint32_t> stack, double value) {
  PushDouble(stack, value);
  return stack;
}

// Valid arguments for channel 1, dispenser 1; ignored values are noise.
const EntryShape kEntries[] = {
    {1, "GetDescription", [](HostBuffers& b) { return RegisterCall{.edx = Dword(b.shortString)}; }},
    {2, "SetLinkState", [](HostBuffers&) { return RegisterCall{.edx = 1, .ecx = 0xABCDEF01}; }},
    {3, "GetLinkState", [](HostBuffers&) { return RegisterCall{.edx = 1}; }},
    {4, "Stop", [](HostBuffers&) { return RegisterCall{.edx = 1, .ecx = 1, .stack = {0x5A5A}}; }},
    {5, "Reserved5", [](HostBuffers&) { return RegisterCall{.edx = 7}; }},
    {6, "GetTransaction",
     [](HostBuffers& b) {
       return RegisterCall{.edx = 1, .ecx = 1, .stack = {Dword(&b.volume), Dword(&b.amount)}};
     }},
    {7, "ReadTotals",
     [](HostBuffers& b) {
       return RegisterCall{
           .edx = 1, .ecx = 1, .stack = {1, Dword(&b.volume), Dword(&b.amount), 0x77, 0x88}};
     }},
    {8, "Reserved8",
     [](HostBuffers&) {
       return RegisterCall{.edx = 1, .ecx = 2, .stack = {3, 4, 5, 6, 7}};
     }},
    {9, "ReadTransaction",
     [](HostBuffers& b) { return RegisterCall{.edx = 1, .ecx = 1, .stack = {Dword(&b.amount)}}; },
     true},
    {10, "PollStatus", [](HostBuffers&) { return RegisterCall{.edx = 1, .ecx = 1}; }},
    {11, "SetPrice",
     [](HostBuffers&) {
       return RegisterCall{.edx = 1, .ecx = 1, .stack = WithDouble({1, 0x11, 0x22}, 45.67)};
     }},
    {12, "Reserved12", [](HostBuffers&) { return RegisterCall{.edx = 1, .ecx = 2, .stack = {3}}; }},
    {13, "SetVolumePreset",
     [](HostBuffers&) {
       return RegisterCall{.edx = 1, .ecx = 1, .stack = WithDouble({0x11, 0x22}, 10.5)};
     }},
    {14, "SetAmountPreset",
     [](HostBuffers&) {
       return RegisterCall{.edx = 1, .ecx = 1, .stack = WithDouble({1, 0x11}, 250.0)};
     }},
    {15, "Start", [](HostBuffers&) { return RegisterCall{.edx = 1, .ecx = 1, .stack = {1}}; }},
    {16, "OpenChannel", [](HostBuffers&) { return RegisterCall{.edx = 1}; }},
    {17, "Reserved17", [](HostBuffers&) { return RegisterCall{.edx = 1, .ecx = 2, .stack = {3}}; }},
    {18, "Reserved18",
     [](HostBuffers&) {
       return RegisterCall{.edx = 1, .ecx = 2, .stack = {3, 4}};
     }},
    {19, "Authorize",
     [](HostBuffers&) {
       return RegisterCall{.edx = 1, .ecx = 1, .stack = {1, 0xFFFFFF00}};
     }},
    {20, "QueryOption",
     [](HostBuffers& b) { return RegisterCall{.edx = 3, .ecx = Dword(&b.value)}; }},
    {21, "GetNozzleStatus",
     [](HostBuffers& b) {
       return RegisterCall{.edx = 0xFFFFFF01, .ecx = 0x12345601, .stack = {0, Dword(b.record)}};
     }},
    {22, "StopNozzle",
     [](HostBuffers&) {
       return RegisterCall{.edx = 1, .ecx = 1, .stack = {0x33, 0x44}};
     }},
    {23, "Reserved23",
     [](HostBuffers&) {
       return RegisterCall{.edx = 1, .ecx = 2, .stack = {3, 4}};
     }},
};

class EveryEntry : public HostDriverTest, public ::testing::WithParamInterface<EntryShape> {};

TEST_P(EveryEntry, PopsItsParametersAndHandsBackTheHostsFloatingPointState) {
  HostBuffers buffers;
  const auto call = GetParam().arguments(buffers);
  const auto outcome =
      Entry(GetParam().index, call.edx, call.ecx, call.stack, GetParam().floatResult);
  ExpectClean(outcome);
}

INSTANTIATE_TEST_SUITE_P(Table, EveryEntry, ::testing::ValuesIn(kEntries),
                         [](const auto& info) { return std::string(info.param.name); });

using TableResults = HostDriverTest;

TEST_F(TableResults, DescriptionIsAShortStringWrittenThroughTheHiddenPointer) {
  std::uint8_t text[256];
  std::memset(text, 0xCC, sizeof text);
  ExpectClean(Entry(1, Dword(text)));
  const std::string_view expected = "v2.50#Протокол к Quorlan"_w1251;
  ASSERT_EQ(text[0], 24);
  EXPECT_EQ(std::string_view(reinterpret_cast<char*>(text + 1), text[0]), expected);
  EXPECT_EQ(text[6], '#');
  EXPECT_EQ(text[25], 0xCC) << "nothing written past the string";
}

TEST_F(TableResults, LinkStateTakesOnlyTheLowByteOfTheState) {
  EXPECT_EQ(Entry(3, 1).eax & 0xFF, 1u);
  ExpectClean(Entry(2, 5, 0x12345603));
  EXPECT_EQ(Entry(3, 5).eax & 0xFF, 3u);
  EXPECT_EQ(Entry(3, 6).eax & 0xFF, 1u);
}

TEST_F(TableResults, QueryOptionAnswersInAlAndTheOutValue) {
  std::int32_t value = -7;
  auto outcome = Entry(20, 3, Dword(&value));
  EXPECT_EQ(outcome.eax & 0xFF, 1u);
  EXPECT_EQ(value, 1);
  outcome = Entry(20, 6, Dword(&value));
  EXPECT_EQ(outcome.eax & 0xFF, 0u);
  EXPECT_EQ(value, 1) << "an unknown option leaves the value alone";
}

TEST_F(TableResults, StopEntriesReturnZeroInEaxAndSendTheSameRequest) {
  EXPECT_EQ(Entry(4, 1, 2, {9}).eax, 0u);
  EXPECT_EQ(Entry(22, 1, 2, {0xDEAD, 0xBEEF}).eax, 0u);
  ASSERT_EQ(host.fake.exchanges.size(), 2u);
  EXPECT_EQ(host.fake.exchanges[0].request, host.fake.exchanges[1].request);
}

TEST_F(TableResults, NozzleStatusRecordGetsFourBytesAndKeepsTheRest) {
  std::uint8_t record[16];
  std::memset(record, 0xEE, sizeof record);
  // Dispenser busy filling (0x99), nozzle mode 0: no sub-status request.
  // The pending price download before the poll gets a plain good reply.
  host.fake.responder = [](const quorlan::testing::ExchangeRecord& request) {
    using quorlan::testing::Bytes;
    return quorlan::testing::ScriptedReply{
        .reply =
            quorlan::testing::Pairs(request.expected == 18 ? Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x99}
                                                           : Bytes(request.expected / 2, 0))};
  };
  ExpectClean(Entry(21, 0xAB01, 0xCD01, {0xEF00, Dword(record)}));
  EXPECT_EQ(record[0], 0xD1);
  EXPECT_EQ(record[1], 0);
  EXPECT_EQ(record[14], 1);
  EXPECT_EQ(record[15], 0);
  for (int i = 2; i < 14; ++i) EXPECT_EQ(record[i], 0xEE) << i;
}

}  // namespace
}  // namespace quorlan::hosttest

namespace quorlan::hosttest {
namespace {

TEST_F(TableResults, TheStackCheckSeesAWrongPopCount) {
  // GetLinkState pops nothing: a host that pushed a value finds it left.
  const auto outcome = Entry(3, 1, 0, {0x1234});
  EXPECT_EQ(outcome.stackLeft, -4);
  // Stop pops 4: of two pushed values one stays behind.
  EXPECT_EQ(Entry(4, 1, 1, {0x1, 0x2}).stackLeft, -4);
}

}  // namespace
}  // namespace quorlan::hosttest
