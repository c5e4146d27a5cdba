// The boundary around the table: exports, structured exceptions, callbacks
// through method pointers, the log next to the host, and bad arguments that
// must end exactly as they do in the core, never in an access violation.
#include <fstream>
#include <functional>
#include <sstream>

#include "commands/Messages.h"
#include "driver/TVM30.h"
#include "link/Frame.h"
#include "support/MemoryLogPlatform.h"
#include "win32/HostDriver.h"

namespace quorlan::hosttest {
namespace {

using quorlan::testing::FakeDispatcher;

using Boundary = HostDriverTest;

TEST_F(Boundary, GetDriver25PopsItsFiveIgnoredValuesAndBuildsAWorkingDriver) {
  const auto outcome = Call({.target = Export("GetDriver25"),
                             .eax = 0xFFFFFF80,
                             .edx = 0,
                             .ecx = Dword(host.Port()),
                             .stack = {1, 2, 3, 4, 0xFFFFFFFF}});
  ExpectClean(outcome);
  void* other = reinterpret_cast<void*>(static_cast<std::uintptr_t>(outcome.eax));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(EntryOf(other, 3, 32, 0, {}).eax & 0xFF, 1u);
}

TEST_F(Boundary, NilPortDispatcherIsRefusedWithAnException) {
  const auto outcome = Call({.target = Export("GetDI30"), .eax = 0, .edx = 0, .ecx = 0});
  ExpectRaised(outcome, kCodeOther);
  EXPECT_FALSE(outcome.className.empty());
}

TEST_F(Boundary, EntryZeroRaisesTheAbstractError) {
  const auto outcome = Entry(0);
  ExpectRaised(outcome, kCodeAbstractError, "Abstract error");
  EXPECT_EQ(outcome.className, "EAbstractError");
}

TEST_F(Boundary, FailedExchangeRaisesSerialIoWithTheRequestsMessage) {
  host.fake.ThenFail(0xF6);
  const auto outcome = Entry(10, 1, 1);
  ExpectRaised(outcome, kCodeSerialIO, messages::kStatusRequest);
  EXPECT_EQ(outcome.className, "ESerialIO");
  // The driver goes on working after the exception.
  ExpectClean(Entry(10, 1, 1));
}

TEST_F(Boundary, NilOutParameterEndsInAnExceptionNotAnAccessViolation) {
  double amount = 0;
  ExpectRaised(Entry(6, 1, 1, {0, Dword(&amount)}), kCodeOther);
  ExpectRaised(Entry(9, 1, 1, {0}, true), kCodeOther);
  ExpectRaised(Entry(20, 3, 0), kCodeOther);
  ExpectRaised(Entry(1, 0), kCodeOther);
}

TEST_F(Boundary, OpenChannelHandsTheHostASetupHandlerThatConfiguresTheLine) {
  ExpectClean(Entry(16, 7));
  ASSERT_EQ(host.fake.configures.size(), 1u);
  EXPECT_EQ(host.fake.configures[0].channel, 7);
  EXPECT_EQ(host.fake.configures[0].lineSetting, 3);
  EXPECT_EQ(host.fake.configures[0].baud, 9600);
  ASSERT_NE(host.setupHandlers[7].code, nullptr);
  host.RunSetupHandler(7);  // pops nothing, keeps the host's state (checked on tear-down)
  EXPECT_EQ(host.fake.configures.size(), 2u);
}

TEST_F(Boundary, ExchangeCarriesTheFrameAndTheVerifiersVerdictReachesTheHost) {
  // A reply with a broken complement: the verifier reports it through the
  // host's SetState/SetError, and the failed exchange becomes ESerialIO.
  host.fake.Then({.reply = {0x00, 0x00, 0x12, 0x34}, .received = 18});
  ExpectRaised(Entry(10, 1, 1), kCodeSerialIO, messages::kStatusRequest);
  ASSERT_EQ(host.fake.exchanges.size(), 1u);
  const Frame frame = BuildFrame(1, 0xA1, {});
  EXPECT_EQ(host.fake.exchanges[0].request,
            quorlan::testing::Bytes(frame.View().begin(), frame.View().end()));
  EXPECT_EQ(host.fake.exchanges[0].expected, 18);
  EXPECT_EQ(host.fake.exchanges[0].reserved, 0);
  ASSERT_FALSE(host.fake.errorCalls.empty());
  EXPECT_EQ(host.fake.errorCalls.back().second, kErrorBadComplement);
  EXPECT_EQ(host.fake.stateCalls.back().second, kLinkBad);
}

TEST_F(Boundary, ExceptionInTheVerifierNeverReachesTheHostsExchange) {
  // A host that hands the verifier too small a buffer: the check refuses
  // with a range error, which must come back to the driver, not the host.
  host.verifierHighIndexOverride = 3;
  host.fake.Then({.reply = quorlan::testing::Pairs({0, 0, 0, 0, 0, 0, 0, 0, 0xA0}),
                  .error = 0xDB,
                  .state = kLinkBad});
  const auto outcome = Entry(10, 1, 1);
  ExpectRaised(outcome, kCodeSerialIO, messages::kStatusRequest);
  host.verifierHighIndexOverride = -1;
  ExpectClean(Entry(10, 1, 1));
}

TEST_F(Boundary, LogLinesGoNextToTheHostExecutable) {
  ExpectClean(Entry(10, 1, 1));
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string log(path, length);
  log.replace(log.rfind('.'), std::string::npos, ".log");
  std::ifstream file(log, std::ios::binary);
  ASSERT_TRUE(file) << log;
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_NE(content.str().find(" Verif(1)\r\n"), std::string::npos);
}

class FlagsThroughTheTable : public HostDriverTest,
                             public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(FlagsThroughTheTable, GiveTheFiguresTheCoreGivesWithTheSameFlags) {
  // Volume 12.35 and a dispenser's own amount 999.99 at price 45.90.
  const quorlan::testing::Bytes status = {0, 0, 0x99, 0x99, 0x09, 0x35, 0x12, 0x00, 0x99};
  const auto respond = [status](const quorlan::testing::ExchangeRecord& request) {
    return quorlan::testing::ScriptedReply{
        .reply = quorlan::testing::Pairs(
            request.expected == 18 ? status : quorlan::testing::Bytes(request.expected / 2, 0))};
  };
  FakeDispatcher directPort;
  directPort.responder = respond;
  quorlan::testing::MemoryLogPlatform platform;
  Logger logger(platform);
  TVM30 direct(directPort, GetParam(), logger);
  direct.SetPrice(1, 1, 1, 0, 0, 45.90);
  direct.PollStatus(1, 1);
  double expectedAmount = 0;
  const double expectedVolume = direct.ReadTransaction(1, 1, expectedAmount);

  host.fake.responder = respond;
  void* flagged = Create(GetParam(), host.Port());
  std::vector<std::uint32_t> price{1, 0, 0};
  PushDouble(price, 45.90);
  ExpectClean(EntryOf(flagged, 11, 1, 1, price));
  ExpectClean(EntryOf(flagged, 10, 1, 1, {}));
  double amount = -1;
  const auto outcome = EntryOf(flagged, 9, 1, 1, {Dword(&amount)}, true);
  ExpectClean(outcome);
  EXPECT_EQ(outcome.st0, expectedVolume);
  EXPECT_EQ(amount, expectedAmount);
  EXPECT_DOUBLE_EQ(amount, (GetParam() & 0x80) != 0 ? 566.87 : 999.99) << "bit 7 alone decides";
}

INSTANTIATE_TEST_SUITE_P(Flags, FlagsThroughTheTable,
                         ::testing::Values(0u, 0x7Fu, 0x80u, 0xFFFFFF81u));

// What the core itself does with the same arguments, for comparison.
struct DirectOutcome {
  bool raised = false;
  std::string className, message;
};

std::uint32_t CodeOf(const std::string& className) {
  if (className == "ESerialIO") return kCodeSerialIO;
  if (className == "ERangeError") return kCodeRangeError;
  if (className == "EAbstractError") return kCodeAbstractError;
  return kCodeOther;
}

struct BadCall {
  const char* name;
  int index;
  std::uint32_t edx, ecx;
  std::vector<std::uint32_t> stack;  // out parameters point at scratch memory
  std::function<void(TVM30&)> direct;
};

double scratchVolume, scratchAmount;
std::uint8_t scratchRecord[16];

std::vector<std::uint32_t> Out2(std::vector<std::uint32_t> before = {}) {
  before.push_back(Dword(&scratchVolume));
  before.push_back(Dword(&scratchAmount));
  return before;
}
std::vector<std::uint32_t> Price(std::uint32_t g, double price) {
  std::vector<std::uint32_t> stack{g, 0, 0};
  PushDouble(stack, price);
  return stack;
}
std::vector<std::uint32_t> Preset(std::uint32_t g, double value) {
  std::vector<std::uint32_t> stack{g, 0};
  PushDouble(stack, value);
  return stack;
}

const double kNaN = __builtin_nan("");
const double kHuge = 1e300;

const BadCall kBadCalls[] = {
    {"PollChannel0", 10, 0, 1, {}, [](TVM30& t) { t.PollStatus(0, 1); }},
    {"PollChannel33", 10, 33, 1, {}, [](TVM30& t) { t.PollStatus(33, 1); }},
    {"PollChannel255", 10, 255, 1, {}, [](TVM30& t) { t.PollStatus(255, 1); }},
    {"PollDispenser0", 10, 1, 0, {}, [](TVM30& t) { t.PollStatus(1, 0); }},
    {"PollDispenser33", 10, 1, 33, {}, [](TVM30& t) { t.PollStatus(1, 33); }},
    {"StopChannel33", 4, 33, 1, {0}, [](TVM30& t) { t.Stop(33, 1, 0); }},
    {"PriceGrade0", 11, 1, 1, Price(0, 10), [](TVM30& t) { t.SetPrice(1, 1, 0, 0, 0, 10); }},
    {"PriceGrade9", 11, 1, 1, Price(9, 10), [](TVM30& t) { t.SetPrice(1, 1, 9, 0, 0, 10); }},
    {"PriceNegative", 11, 1, 1, Price(1, -5), [](TVM30& t) { t.SetPrice(1, 1, 1, 0, 0, -5); }},
    {"PriceHuge", 11, 1, 1, Price(1, kHuge), [](TVM30& t) { t.SetPrice(1, 1, 1, 0, 0, kHuge); }},
    {"PriceNaN", 11, 1, 1, Price(1, kNaN), [](TVM30& t) { t.SetPrice(1, 1, 1, 0, 0, kNaN); }},
    {"VolumePresetHuge", 13, 1, 1, Preset(0, kHuge),
     [](TVM30& t) { t.SetVolumePreset(1, 1, 0, 0, kHuge); }},
    {"VolumePresetNegative", 13, 1, 1, Preset(0, -1),
     [](TVM30& t) { t.SetVolumePreset(1, 1, 0, 0, -1); }},
    {"AmountPresetHuge", 14, 1, 1, Preset(1, kHuge),
     [](TVM30& t) { t.SetAmountPreset(1, 1, 1, 0, kHuge); }},
    {"AmountPresetGrade9", 14, 1, 1, Preset(9, 10),
     [](TVM30& t) { t.SetAmountPreset(1, 1, 9, 0, 10); }},
    {"AuthorizeDispenser33", 19, 1, 33, {1, 1}, [](TVM30& t) { t.Authorize(1, 33, 1, 1); }},
    {"StartGrade9", 15, 1, 1, {9}, [](TVM30& t) { t.Start(1, 1, 9); }},
    {"TotalsNozzle0",
     7,
     1,
     1,
     {0, Dword(&scratchVolume), Dword(&scratchAmount), 0, 0},
     [](TVM30& t) { t.ReadTotals(1, 1, 0, scratchVolume, scratchAmount, 0, 0); }},
    {"TransactionChannel33", 6, 33, 1, Out2(),
     [](TVM30& t) { t.GetTransaction(33, 1, scratchVolume, scratchAmount); }},
    {"NozzleStatusChannel33",
     21,
     33,
     1,
     {0, Dword(scratchRecord)},
     [](TVM30& t) {
       NozzleStatusRecord record;
       t.GetNozzleStatus(33, 1, 0, record);
     }},
    {"NozzleStatusDispenser0",
     21,
     1,
     0,
     {0, Dword(scratchRecord)},
     [](TVM30& t) {
       NozzleStatusRecord record;
       t.GetNozzleStatus(1, 0, 0, record);
     }},
    {"OpenChannel33", 16, 33, 0, {}, [](TVM30& t) { t.OpenChannel(33); }},
};

class BadArguments : public HostDriverTest, public ::testing::WithParamInterface<BadCall> {};

TEST_P(BadArguments, EndAsInTheCoreAndTheNextCallWorks) {
  FakeDispatcher directPort;
  quorlan::testing::MemoryLogPlatform platform;
  Logger logger(platform);
  TVM30 direct(directPort, 0, logger);
  DirectOutcome expected;
  try {
    GetParam().direct(direct);
  } catch (const EDriverError& error) {
    expected = {true, error.ClassName(), error.Message()};
  }

  const auto& call = GetParam();
  const auto outcome = Entry(call.index, call.edx, call.ecx, call.stack);
  ExpectHostStateKept(outcome);
  EXPECT_EQ(outcome.raised, expected.raised) << outcome.message;
  if (expected.raised) {
    ExpectRaised(outcome, CodeOf(expected.className), expected.message);
    EXPECT_EQ(outcome.className, expected.className);
  }
  EXPECT_EQ(host.fake.exchanges.size(), directPort.exchanges.size());

  const auto next = Entry(10, 1, 1);
  ExpectClean(next);
}

INSTANTIATE_TEST_SUITE_P(Table, BadArguments, ::testing::ValuesIn(kBadCalls),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorlan::hosttest
