// Every request the driver sends, under every fault the simulator scripts:
// the exception and its exact message, the link state, exactly which table
// entries changed, and the log lines the operation wrote.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SimTestSupport.h"
#include "TableSnapshot.h"
#include "commands/Messages.h"

namespace quorlan::reliability {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::Request;
using sim::testing::DriverOnSim;
using sim::testing::StillLine;

constexpr const char* kLog = "driver.log";
constexpr std::uint8_t kFaultStatusByte = 0x0B;

// What one host call left behind.
struct Outcome {
  std::string error;  // "ESerialIO: <message>", or empty when the call returned
  std::vector<double> results;
  std::vector<std::string> lines;  // log texts written by the call
  std::vector<ChangedEntry> changed;
  std::uint8_t linkState = 0;
  std::optional<TableSnapshot> tables;  // after the call
};

struct Command {
  const char* name;
  Request request;  // the request the fault strikes
  std::function<void(DriverOnSim&)> arrange;
  std::function<std::vector<double>(DriverOnSim&)> act;
  std::string_view message;                 // of the ESerialIO; empty: the failure is swallowed
  std::vector<std::string> traceBefore;     // texts logged before the struck exchange
  std::vector<ChangedEntry> writtenBefore;  // entries stored before it
};

void PrintTo(const Command& command, std::ostream* os) {
  *os << command.name;
}

std::string Text(std::string_view w1251) {
  return std::string(w1251);
}

const std::string kPoll = Text("ЗАПРОС СОСТОЯНИЯ(1)"_w1251);

void Nothing(DriverOnSim&) {}

// The prices go out first, then the guard shows whether the poll counted it.
void PolledOnceWithGuard(DriverOnSim& s) {
  s.Poll();
  s.driver.State().startGuard[1][1] = 5;
}

std::vector<double> NozzleStatus(DriverOnSim& s) {
  NozzleStatusRecord record;
  s.driver.GetNozzleStatus(1, 1, 1, record);
  return {double(record.bytes[0]), double(record.bytes[14])};
}

const Command kCommands[] = {
    {"StatusPoll",
     Request::Status,
     Nothing,
     [](DriverOnSim& s) { return std::vector<double>{double(s.driver.PollStatus(1, 1))}; },
     messages::kStatusRequest,
     {kPoll},
     {}},
    {"DataRequest",
     Request::Status,
     Nothing,
     [](DriverOnSim& s) {
       double amount = -1;
       const double volume = s.driver.ReadTransaction(1, 1, amount);
       return std::vector<double>{volume, amount};
     },
     messages::kTransactionRequest,
     {"GET DATA TRANSACTION"},
     {}},
    {"SubStatus",
     Request::SubStatus,
     PolledOnceWithGuard,
     NozzleStatus,
     messages::kStatusRequest,
     {kPoll, "Verif(1)", kPoll + ": A0"},
     {}},
    {"Release",
     Request::Release,
     [](DriverOnSim& s) {
       PolledOnceWithGuard(s);
       s.line->InjectFault(1, Request::Status, {.kind = FaultKind::StatusByte, .statusByte = 0x20});
     },
     NozzleStatus,
     {},
     {kPoll, "Verif(1)", kPoll + ": 20"},
     {{Table::NozzleState, 1, 1}, {Table::StartGuard, 1, 1}}},
    {"GradeOnePrice",
     Request::GradeOnePrice,
     Nothing,
     NozzleStatus,
     messages::kStatusRequest,
     {},
     {{Table::PriceDirty, 1, 1}}},
    {"PriceTable",
     Request::PriceTable,
     Nothing,
     [](DriverOnSim& s) {
       s.driver.SetPrice(1, 1, 1, 0, 0, 45.67);
       return std::vector<double>{double(s.driver.State().prices[1][1][1])};
     },
     messages::kSetPrice,
     {"SET COSTE"},
     {{Table::Prices, 1, 1}}},
    {"PlainAuthorization",
     Request::Authorize,
     Nothing,
     [](DriverOnSim& s) {
       s.driver.Authorize(1, 1, 2, 0);
       return std::vector<double>{};
     },
     messages::kCantStart,
     {},
     {{Table::CurrentGrade, 1, 1}}},
    {"PresetAuthorization",
     Request::PresetAuthorize,
     Nothing,
     [](DriverOnSim& s) {
       s.driver.Start(1, 1, 2);
       return std::vector<double>{};
     },
     messages::kCantStart,
     {"START"},
     {{Table::CurrentGrade, 1, 1}}},
    {"Stop",
     Request::Stop,
     Nothing,
     [](DriverOnSim& s) { return std::vector<double>{double(s.driver.Stop(1, 1, 0))}; },
     messages::kStop,
     {"COMMAND STOP"},
     {}},
    {"Totals",
     Request::Totals,
     [](DriverOnSim& s) { s.line->SetTotals(1, 1, {.volume = 123456, .amount = 789012}); },
     [](DriverOnSim& s) {
       double volume = -1, amount = -1;
       s.driver.ReadTotals(1, 1, 1, volume, amount, 0, 0);
       return std::vector<double>{volume, amount};
     },
     messages::kTotalsRequest,
     {},
     {}},
};

// Runs the command on a fresh line, with the fault on its request if given.
Outcome RunOnFreshLine(const Command& command, std::optional<Fault> fault) {
  DriverOnSim s(StillLine());
  command.arrange(s);
  if (fault) s.line->InjectFault(1, command.request, *fault);
  // The load's paragraph break goes before this line, not among the call's.
  s.logger.Log(kTraceLevel, "arranged");
  const TableSnapshot before(s.driver.State());
  const auto logged = s.platform.Texts(kLog).size();
  Outcome outcome;
  try {
    outcome.results = command.act(s);
  } catch (const EDriverError& error) {
    outcome.error = std::string(error.ClassName()) + ": " + error.Message();
  }
  const auto lines = s.platform.Texts(kLog);
  outcome.lines.assign(lines.begin() + std::ptrdiff_t(logged), lines.end());
  outcome.tables.emplace(s.driver.State());
  outcome.changed = outcome.tables->ChangedSince(before);
  outcome.linkState = s.driver.GetLinkState(1);
  return outcome;
}

std::vector<std::string> Names(const std::vector<ChangedEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.Name());
  return names;
}

// Faults that make the exchange fail, with the code the dispatcher reports.
struct ExchangeFailure {
  FaultKind kind;
  const char* code;
  bool bytesArrived;  // the verifier saw them and logged its line
};

const ExchangeFailure kExchangeFailures[] = {
    {FaultKind::NoReply, "1F4", false},
    {FaultKind::LateReply, "1F4", false},
    {FaultKind::WrongComplement, "F6", true},
    {FaultKind::ShortReply, "DB", true},
};

void PrintTo(const ExchangeFailure& failure, std::ostream* os) {
  *os << sim::FaultName(failure.kind);
}

class FailedExchange : public ::testing::TestWithParam<std::tuple<Command, ExchangeFailure>> {};

TEST_P(FailedExchange, EndsInTheDocumentedOutcome) {
  const auto& [command, failure] = GetParam();
  const Outcome outcome = RunOnFreshLine(command, Fault{.kind = failure.kind});

  std::vector<std::string> lines = command.traceBefore;
  if (failure.bytesArrived) lines.push_back("Verif(1)");
  lines.push_back(std::string("Error connect BS: ") + failure.code);
  if (command.message.empty()) {
    // Only the release swallows its failure: logged, and the poll goes on.
    lines.push_back(" " + Text(messages::kRelease));
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.results, (std::vector<double>{0xC0, 0}));
  } else {
    EXPECT_EQ(outcome.error, "ESerialIO: " + Text(command.message));
  }
  EXPECT_EQ(outcome.lines, lines);
  EXPECT_EQ(outcome.linkState, kLinkBad);

  auto changed = command.writtenBefore;
  changed.push_back({Table::LinkState, 1, 0});
  EXPECT_EQ(Names(outcome.changed), Names(changed));
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, FailedExchange,
                         ::testing::Combine(::testing::ValuesIn(kCommands),
                                            ::testing::ValuesIn(kExchangeFailures)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  std::string(sim::FaultName(std::get<1>(info.param).kind));
                         });

// Faults in a reply's content: the exchange succeeds. Only the readers of
// that content see a difference from the same call on a sound line.
struct ContentFault {
  FaultKind kind;
  const char* name;
};

const ContentFault kContentFaults[] = {{FaultKind::BadDigit, "BadDigit"},
                                       {FaultKind::StatusByte, "StatusByte"}};

void PrintTo(const ContentFault& fault, std::ostream* os) {
  *os << fault.name;
}

class ContentOfTheReply : public ::testing::TestWithParam<std::tuple<Command, ContentFault>> {};

TEST_P(ContentOfTheReply, ChangesOnlyWhatItsReaderDocuments) {
  const auto& [command, fault] = GetParam();
  const Outcome sound = RunOnFreshLine(command, std::nullopt);
  const Outcome faulty =
      RunOnFreshLine(command, Fault{.kind = fault.kind, .statusByte = kFaultStatusByte});
  const TableSnapshot& soundTables = *sound.tables;
  const TableSnapshot& faultTables = *faulty.tables;
  ASSERT_EQ(sound.error, "");
  EXPECT_EQ(faulty.error, "");

  auto expected = sound;
  std::vector<std::string> differing;  // entries where the faulty run's tables differ
  const std::string reader = std::string(command.name) + "/" + fault.name;
  if (reader == "StatusPoll/BadDigit") {
    // The hundredths byte 0x00 arrives as 0xA0 and counts as 100.
    differing = {"Amount[1][1]"};
    expected.changed.push_back({Table::Amount, 1, 1});
    EXPECT_EQ(faultTables.amount[1][1], soundTables.amount[1][1] + 1.00);
  } else if (reader == "StatusPoll/StatusByte") {
    // An unknown status byte is passed through and logged as it came.
    differing = {"NozzleState[1][1]"};
    expected.results = {kFaultStatusByte};
    expected.changed = {{Table::NozzleState, 1, 1}};
    expected.lines = {kPoll, "Verif(1)", kPoll + ": 0B"};
  } else if (reader == "SubStatus/StatusByte") {
    // The low three bits of the sub-status byte: 0xE8 + 3 while guarded.
    differing = {"NozzleState[1][1]"};
    expected.results = {0xEB, 3};
  } else if (reader == "Totals/BadDigit") {
    // A digit above 9 marks the link bad; both totals stay 0.
    differing = {"LinkState[1]"};
    expected.results = {0, 0};
    expected.changed = {{Table::LinkState, 1, 0}};
    expected.linkState = kLinkBad;
  }
  EXPECT_EQ(faulty.results, expected.results);
  EXPECT_EQ(faulty.lines, expected.lines);
  EXPECT_EQ(Names(faulty.changed), Names(expected.changed));
  EXPECT_EQ(faulty.linkState, expected.linkState);
  EXPECT_EQ(Names(faultTables.ChangedSince(soundTables)), differing);
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, ContentOfTheReply,
                         ::testing::Combine(::testing::ValuesIn(kCommands),
                                            ::testing::ValuesIn(kContentFaults)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace quorlan::reliability
