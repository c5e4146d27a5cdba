// What each command puts on a serial line, read from --trace against
// `quorlan sim`: nothing is sent that nobody asked for, refused input sends
// nothing, and a reading that did not arrive is never printed.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <sstream>
#include <thread>

#include "Process.h"

namespace quorlan::testing {
namespace {

struct LineCase {
  const char* name = "";
  std::vector<std::string> server{};   // options of quorlan sim
  std::vector<std::string> command{};  // after --port PATH --trace
  int exitCode = 0;
  std::vector<std::string> out{};  // each in stdout, in this order
  std::string err = "";            // in stderr; {port} stands for the line's path
  // The requests, exactly; or, when `anyButPrices`, any number of requests
  // of which none carries a price.
  std::vector<std::string> sent{};
  bool anyButPrices = false;
  std::string input = "";  // for the shell
  // Run on the line first, unseen, to give the dispensers their prices.
  std::vector<std::string> before{};
  bool watch = false;     // runs until `out` has shown, then SIGTERM
  bool portHeld = false;  // another quorlan holds the line meanwhile
};

// The "->" lines of a trace, without their "c1 -> ".
std::vector<std::string> Requests(const std::string& trace) {
  std::vector<std::string> requests;
  std::istringstream in(trace);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("c1 -> ", 0) == 0) requests.push_back(line.substr(6));
  }
  return requests;
}

// The grade 1 price (A6 to the own address) or the price table (A3 to the
// second address, C0..DF).
bool CarriesPrice(const std::string& request) {
  const auto command = request.substr(6, 2);
  return command == "A6" || (command == "A3" && (request[0] == 'C' || request[0] == 'D'));
}

std::size_t FindInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const auto& part : parts) {
    at = text.find(part, at);
    if (at == std::string::npos) return at;
    at += part.size();
  }
  return at;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
  return text;
}

void PrintTo(const LineCase& c, std::ostream* out) {
  *out << c.name;
}

class QuorlanOnTheLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(QuorlanOnTheLine, SendsWhatWasAskedAndSaysWhatHappened) {
  const auto& c = GetParam();
  // Unpaced: each reply comes in one write, so a busy machine cannot cut it.
  std::vector<std::string> serverArgs{QUORLAN_CLI_PATH, "sim", "--unpaced"};
  serverArgs.insert(serverArgs.end(), c.server.begin(), c.server.end());
  Process server(serverArgs);
  const auto port = server.ReadLine();
  ASSERT_EQ(port.rfind("/dev/", 0), 0u) << port;

  std::vector<std::string> args{QUORLAN_CLI_PATH, "--log", "", "--port", port, "--trace"};
  args.insert(args.end(), c.command.begin(), c.command.end());
  if (!c.before.empty()) {
    std::vector<std::string> first{QUORLAN_CLI_PATH, "--log", "", "--port", port};
    first.insert(first.end(), c.before.begin(), c.before.end());
    ASSERT_EQ(Process(first).Finish().exitCode, 0);
  }
  std::unique_ptr<Process> holder;
  if (c.portHeld) {
    holder = std::make_unique<Process>(std::vector<std::string>{
        QUORLAN_CLI_PATH, "--log", "", "--port", port, "watch", "-d", "1", "--json"});
    ASSERT_NE(holder->ReadLine(), "");  // it has the line
  }
  ProcessResult result;
  if (c.watch) {
    Process watch(args);
    // A watch that never shows what is expected is ended after a generous while.
    std::mutex mutex;
    std::condition_variable seen;
    bool done = false;
    std::thread deadline([&] {
      std::unique_lock lock(mutex);
      if (!seen.wait_for(lock, std::chrono::seconds(30), [&] { return done; })) {
        watch.Signal(SIGTERM);
      }
    });
    std::string out;
    for (std::string line; FindInOrder(out, c.out) == std::string::npos;) {
      line = watch.ReadLine();
      if (line.empty()) break;
      out += line + "\n";
    }
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    seen.notify_one();
    deadline.join();
    watch.Signal(SIGTERM);
    result = watch.Finish();
    result.out = out + result.out;
  } else {
    Process command(args);
    command.Write(c.input);
    result = command.Finish();
  }
  if (holder) holder->Signal(SIGTERM);

  EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
  EXPECT_NE(FindInOrder(result.out, c.out), std::string::npos) << result.out;
  if (c.out.empty()) {
    EXPECT_EQ(result.out, "") << "a reading that did not arrive was printed";
  }
  EXPECT_NE(result.err.find(Replace(c.err, "{port}", port)), std::string::npos) << result.err;
  const auto requests = Requests(result.err);
  if (c.anyButPrices) {
    EXPECT_FALSE(requests.empty());
    for (const auto& request : requests) EXPECT_FALSE(CarriesPrice(request)) << result.err;
  } else {
    EXPECT_EQ(requests, c.sent) << result.err;
  }
  server.Signal(SIGTERM);
}

// Request frames: address and command bytes, each followed by its complement.
const std::string kPollOne = "F0 0F A1 5E";
const std::string kTableToTwo =  // 52.90, 54.10, 61.00, 48.75 to dispenser 2's second address
    "C1 3E A3 5C 52 AD 90 6F 52 AD 90 6F 54 AB 10 EF 54 AB 10 EF 61 9E 00 FF 61 9E 00 FF 48 B7 75 "
    "8A 48 B7 75 8A";

INSTANTIATE_TEST_SUITE_P(
    IssueRows, QuorlanOnTheLine,
    ::testing::Values(
        LineCase{.name = "StatusModeZeroWithoutPricesOnlyPolls",
                 .command = {"status", "-d", "1", "--mode", "0"},
                 .out = {"channel 1, dispenser 1: no prices, volume 0.00, amount 0.00 (status "
                         "byte 2F)"},
                 .sent = {kPollOne}},
        LineCase{.name = "ShellStatusAndTransactionWithoutPricesOnlyPoll",
                 .command = {"shell"},
                 .out = {"no prices", "no prices"},
                 .anyButPrices = true,
                 .input = "status\ntransaction\n"},
        LineCase{.name = "WatchWithoutPricesOnlyPolls",
                 .command = {"watch", "-d", "1", "--json"},
                 .out = {R"("state":"no prices")"},
                 .anyButPrices = true,
                 .watch = true},
        LineCase{.name = "OneGradePriceIsRefusedWithNothingSent",
                 .server = {"--dispensers", "2"},
                 .command = {"price", "-d", "2", "-g", "2", "--price", "54.10"},
                 .exitCode = 2,
                 .err = "has no price for grade 1: give the table with --prices"},
        LineCase{.name = "ThePriceTableCarriesTheGivenPrices",
                 .server = {"--dispensers", "2"},
                 .command = {"price", "-d", "2", "--prices", "52.90,54.10,61.00,48.75"},
                 .out = {"channel 1, dispenser 2: price table sent: grade 1 52.90, grade 2 "
                         "54.10, grade 3 61.00, grade 4 48.75"},
                 .sent = {kTableToTwo}},
        LineCase{.name = "PresetSendsOnlyThePresetWithItsPrice",
                 .command = {"preset", "-g", "2", "--volume", "5", "--price", "54.10"},
                 .out = {"preset sent: volume limit 5.00, grade 2 at 54.10"},
                 .sent = {"F0 0F A5 5A 02 FD 10 EF 54 AB 00 FF 99 66 99 66 00 FF 05 FA 00 FF"},
                 .before = {"price", "--prices", "1,2,3,4"}},
        LineCase{.name = "GradeFiveHasNoPlaceInTheTable",
                 .command = {"price", "-g", "5", "--price", "40"},
                 .exitCode = 2,
                 .err = "the price table carries grades 1..4 only"},
        LineCase{.name = "PlainAuthorizationSaysItCarriesNoGrade",
                 .server = {"--dispensers", "10"},
                 .command = {"authorize", "-d", "10", "-g", "2"},
                 .out = {"channel 1, dispenser 10: plain authorization sent, without grade or "
                         "limit (-g 2 is not part of it)"},
                 .sent = {"F9 06 A4 5B"},
                 .before = {"price", "-d", "10", "--prices", "1,2,3,4"}},
        LineCase{.name = "VolumeLimitOfZeroIsRefused",
                 .command = {"preset", "--volume", "0", "--price", "50"},
                 .exitCode = 2,
                 .err = "--volume 0: outside 0.01..9999.99"},
        LineCase{.name = "AmountLimitBelowACentIsRefused",
                 .command = {"preset", "--amount", "0.001", "--price", "50"},
                 .exitCode = 2,
                 .err = "--amount 0.001: at most two decimals"},
        LineCase{.name = "PriceNan",
                 .command = {"price", "--price", "nan"},
                 .exitCode = 2,
                 .err = "--price nan: not a number"},
        LineCase{.name = "PriceHex",
                 .command = {"price", "--price", "0x10"},
                 .exitCode = 2,
                 .err = "--price 0x10: not a number"},
        LineCase{.name = "PriceThreeDecimals",
                 .command = {"price", "--prices", "0.001,1,2,3"},
                 .exitCode = 2,
                 .err = "at most two decimals"},
        LineCase{.name = "PriceDecimalComma",
                 .command = {"price", "--price", "12,50"},
                 .exitCode = 2,
                 .err = "--price 12,50: not a number"},
        LineCase{
            .name = "WatchGoesOnPastASilentAndAFaultyDispenser",
            .server = {"--dispensers", "3", "--fault", "2:status:complement:once"},
            .command = {"watch", "-d", "1,2,3,4", "--json"},
            .out = {R"("dispenser":2,"state":"bad reply")", R"("dispenser":4,"state":"no reply")",
                    R"("dispenser":2,"nozzle":null,"state":"no prices")"},
            .anyButPrices = true,
            .watch = true},
        LineCase{.name = "ModeZeroClaimsNoNozzle",
                 .command = {"status", "--mode", "0"},
                 .out = {"channel 1, dispenser 1: idle, volume 0.00, amount 0.00 (status byte "
                         "A0)\n"},
                 .sent = {kPollOne},
                 .before = {"price", "--prices", "1,2,3,4"}},
        LineCase{.name = "TotalsWithTwoOfTheirBytes",
                 .server = {"--fault", "1:totals:short:2"},
                 .command = {"totals"},
                 .exitCode = 1,
                 .err = "totals failed on channel 1, dispenser 1",
                 .sent = {"F0 0F A9 56 40 BF"}},
        LineCase{.name = "TotalsWithTwentyOfTheirBytes",
                 .server = {"--fault", "1:totals:short:20"},
                 .command = {"totals"},
                 .exitCode = 1,
                 .err = "totals failed on channel 1, dispenser 1",
                 .sent = {"F0 0F A9 56 40 BF"}},
        LineCase{.name = "TransactionAfterAPollWithoutValidStatus",
                 .server = {"--fault", "1:status:complement"},
                 .command = {"transaction"},
                 .exitCode = 1,
                 .err = "status failed on channel 1, dispenser 1: reply fails the complement "
                        "check",
                 .sent = {kPollOne}}),
    [](const auto& info) { return std::string(info.param.name); });

// A second process on a port another one holds.
INSTANTIATE_TEST_SUITE_P(LinesOpenExclusively, QuorlanOnTheLine,
                         ::testing::Values(LineCase{.name = "ASecondProcessOnThePortIsRefused",
                                                    .command = {"totals"},
                                                    .exitCode = 3,
                                                    .err = "quorlan: port busy: {port}\n",
                                                    .portHeld = true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorlan::testing
