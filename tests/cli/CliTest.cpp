// The built quorlan command, run as a user runs it: the demo's figures, the
// one-line errors and their exit codes, JSON output, the shell's session, and
// one-shot commands on a serial line served by `quorlan sim`.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "Process.h"

namespace quorlan::testing {
namespace {

std::string LogPath() {
  return (std::filesystem::temp_directory_path() / "quorlan-cli-test.log").string();
}

// A price file with this text. Every test process of this program writes
// every case's file, in parallel: a file per text, put in place whole by a
// rename, so no reader ever meets another case's text or half a file.
std::string PricesFile(const std::string& text, const std::string& name = "prices.txt") {
  const auto folder = std::filesystem::temp_directory_path();
  const auto path =
      folder / ("quorlan-cli-test-" + std::to_string(std::hash<std::string>{}(text)) + "-" + name);
  const auto written = folder / (path.filename().string() + "." + std::to_string(::getpid()));
  std::ofstream(written) << text;
  std::filesystem::rename(written, path);
  return path.string();
}

ProcessResult Quorlan(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), {"--log", LogPath()});
  return RunQuorlan(args, input);
}

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Feeds the text to python's JSON parser and checks that the keys exist.
bool JsonHasKeys(const std::string& json, const std::vector<std::string>& keys) {
  std::string program =
      "import json,sys; d=json.load(sys.stdin); sys.exit(0 if all(k in d for k in [";
  for (const auto& key : keys) program += "'" + key + "',";
  program += "]) else 1)";
  Process python({"/usr/bin/python3", "-c", program});
  python.Write(json);
  return python.Finish().exitCode == 0;
}

TEST(QuorlanDemo, CompletesWithTheFillsFiguresInPlainLines) {
  const auto result = Quorlan({"demo"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  for (const char* figure : {
           "dispenser 1: volume 10.00, amount 529.00",
           "dispenser 2: volume 5.67, amount 300.00",
           "dispenser 1, nozzle 1: volume total 1010.00 (was 1000.00), amount total 53429.00",
           "dispenser 2, nozzle 1: volume total 255.67 (was 250.00), amount total 13525.00",
       }) {
    EXPECT_NE(result.out.find(figure), std::string::npos) << figure << "\n" << result.out;
  }
  // Piped output carries no cursor control.
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
}

struct BadCommand {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string says = "";  // a phrase the error line holds
};

class QuorlanBadCommand : public ::testing::TestWithParam<BadCommand> {};

TEST_P(QuorlanBadCommand, GivesOneErrorLineAndItsExitCode) {
  const auto result = Quorlan(GetParam().args);
  EXPECT_EQ(result.exitCode, GetParam().exitCode);
  EXPECT_EQ(LineCount(result.err), 1) << result.err;
  EXPECT_EQ(result.err.rfind("quorlan: ", 0), 0u) << result.err;
  EXPECT_EQ(result.err.find("--help"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find(GetParam().says), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << "control characters pass through";
  EXPECT_EQ(result.out, "");
}

const std::string kLongArgument = "\x1b[2J" + std::string(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, QuorlanBadCommand,
    ::testing::Values(BadCommand{"NoCommand", {}, 2}, BadCommand{"UnknownCommand", {"refuel"}, 2},
                      BadCommand{"UnknownOption", {"status", "--bogus"}, 2},
                      BadCommand{"ChannelOutOfRange", {"status", "-c", "33"}, 2},
                      BadCommand{"DispenserNotANumber", {"stop", "-d", "one"}, 2},
                      BadCommand{"PriceBeyondTheField", {"price", "--price", "123.45"}, 2},
                      BadCommand{"PriceMissing", {"price", "-g", "2"}, 2},
                      BadCommand{"BothLimits", {"preset", "--volume", "5", "--amount", "9"}, 2},
                      BadCommand{"PresetWithoutPrice", {"preset", "--volume", "5"}, 2},
                      BadCommand{"NearestCommand", {"stauts"}, 2, "did you mean status?"},
                      BadCommand{"GlobalOptionAfterCommand",
                                 {"status", "--trace"},
                                 2,
                                 "--trace is a global option: give it before the command"},
                      BadCommand{"LongArgumentCutAndEscaped",
                                 {"status", "-d", kLongArgument},
                                 2,
                                 "\\x1B[2J" + std::string(60, 'x') + "..."},
                      BadCommand{"PricesFileWithThreeDecimals",
                                 {"--prices-file", PricesFile("52.905,1,2,3"), "status"},
                                 2,
                                 "at most two decimals"},
                      BadCommand{"NegativeVolume", {"preset", "--volume", "-1", "--price", "1"}, 2},
                      BadCommand{"ChannelWithoutLine", {"status", "-c", "2"}, 2},
                      BadCommand{"PortChannelOutOfRange", {"--port", "40=/dev/null", "status"}, 2},
                      BadCommand{"PortMissing", {"--port", "/nonexistent/tty", "status"}, 3},
                      BadCommand{"DemoOnAPort", {"--port", "/dev/null", "demo"}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// What a new user tripped over: messages that say what is wrong and how.
INSTANTIATE_TEST_SUITE_P(
    Mends, QuorlanBadCommand,
    ::testing::Values(
        BadCommand{"DispenserNotAWholeNumber", {"status", "-d", "x"}, 2, "x is not a whole number"},
        BadCommand{"DispenserOutsideItsRange", {"status", "-d", "33"}, 2, "33 is outside 1..32"},
        BadCommand{"GlobalOptionHintWithItsValue",
                   {"status", "--port", "/dev/ttyS9"},
                   2,
                   "as in quorlan --port /dev/ttyS9 status ..."}),
    [](const auto& info) { return std::string(info.param.name); });

struct JsonCommand {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> keys;
  int exitCode = 0;
};

class QuorlanJson : public ::testing::TestWithParam<JsonCommand> {};

TEST_P(QuorlanJson, PrintsOneObjectWithNamedKeys) {
  const auto result = Quorlan(GetParam().args);
  ASSERT_EQ(result.exitCode, GetParam().exitCode) << result.err;
  EXPECT_EQ(LineCount(result.out), 1);
  EXPECT_TRUE(JsonHasKeys(result.out, GetParam().keys)) << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuorlanJson,
    ::testing::Values(
        JsonCommand{"Status",
                    {"status", "-d", "2", "--json"},
                    {"channel", "dispenser", "state", "state_code", "status_byte", "nozzle",
                     "volume", "amount"}},
        JsonCommand{"PriceFromATomlFile",
                    {"--prices-file",
                     PricesFile("prices = [52.90, 54.10, 61.00, 48.75]\n"
                                "[[dispenser]]\nnumber = 3\n"
                                "prices = [\"50\", \"51\", \"52\", \"53\"]\n",
                                "prices.toml"),
                     "price", "-d", "3", "--json"},
                    {"sent", "prices"}},
        JsonCommand{"Error", {"status", "-c", "9", "--json"}, {"error", "exit_code"}, 2},
        JsonCommand{"Transaction",
                    {"transaction", "--json"},
                    {"channel", "dispenser", "state", "volume", "amount"}},
        JsonCommand{"Totals",
                    {"totals", "-n", "3", "--json"},
                    {"channel", "dispenser", "nozzle", "volume_total", "amount_total"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QuorlanShell, KeepsThePriceBookAndEndsNonZeroAfterAFailedLine) {
  const auto result = Quorlan({"shell"},
                              "price -d 2 --prices 12.34,1,2,3\n"
                              "refuel\n"
                              "preset -d 2 -g 1 --volume 1.5  # the price above is in the book\n"
                              "help status\n"
                              "status -c 9\n"
                              "quit\n"
                              "stop -d 2\n");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("grade 1 12.34, grade 2 1.00"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("preset sent: volume limit 1.50, grade 1 at 12.34"), std::string::npos)
      << result.err;
  EXPECT_NE(result.out.find("--mode"), std::string::npos) << "help COMMAND shows the command";
  EXPECT_EQ(result.out.find("stop sent"), std::string::npos) << "a command ran after quit";
  EXPECT_EQ(LineCount(result.err), 2) << result.err;
}

TEST(QuorlanLog, ALogThatCannotBeWrittenWarnsOnceAndTheCommandsRun) {
  const auto result = RunQuorlan({"--log", "/nonexistent/dir/q.log", "shell"}, "status\nstatus\n");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(LineCount(result.out), 2);
  EXPECT_EQ(result.err.rfind("quorlan: warning: cannot write the log /nonexistent/dir/q.log", 0),
            0u)
      << result.err;
  EXPECT_EQ(LineCount(result.err), 1) << result.err;
}

// Without --log the log goes to the user's state directory, never beside
// the executable: UTF-8 lines with RFC 3339 stamps, commands but no exchange.
TEST(QuorlanLog, TheDefaultLogIsInTheUsersStateDirectoryInStampedLines) {
  const auto scratch =
      std::filesystem::temp_directory_path() / ("quorlan-cli-state-" + std::to_string(getpid()));
  struct Case {
    const char* stateHome;  // nullptr: unset
    std::filesystem::path log;
  };
  const Case cases[] = {
      {"xdg", scratch / "xdg" / "quorlan" / "quorlan.log"},
      {nullptr, scratch / "home" / ".local" / "state" / "quorlan" / "quorlan.log"},
      {"relative/is/ignored", scratch / "home" / ".local" / "state" / "quorlan" / "quorlan.log"},
  };
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) \S.*)");
  for (const Case& c : cases) {
    std::filesystem::remove_all(scratch);
    setenv("HOME", (scratch / "home").c_str(), 1);
    if (c.stateHome == nullptr) {
      unsetenv("XDG_STATE_HOME");
    } else if (c.stateHome[0] == 'r') {
      setenv("XDG_STATE_HOME", c.stateHome, 1);
    } else {
      setenv("XDG_STATE_HOME", (scratch / c.stateHome).c_str(), 1);
    }
    const auto result = RunQuorlan({"demo"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::ifstream in(c.log, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    EXPECT_FALSE(text.empty()) << c.log;
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find("Verif("), std::string::npos) << "an exchange at the info level";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
  }
  std::filesystem::remove_all(scratch);
}

// quorlan sim on one end of a pseudo-terminal, one-shot commands on the other.
class QuorlanOnASimulatedLine : public ::testing::Test {
 protected:
  QuorlanOnASimulatedLine() : server({QUORLAN_CLI_PATH, "sim", "--unpaced", "--dispensers", "2"}) {
    path = server.ReadLine();
  }
  ~QuorlanOnASimulatedLine() override {
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Finish().exitCode, 0);
  }
  ProcessResult OnLine(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", "1=" + path});
    return Quorlan(args);
  }

  Process server;
  std::string path;
};

TEST_F(QuorlanOnASimulatedLine, NozzleEventsOnTheServersInputShowInAStatus) {
  ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
  ASSERT_EQ(OnLine({"price", "-d", "2", "--prices", "1,2,3,4"}).exitCode, 0);
  server.Write("lift 2 3\n");
  // The acknowledgement goes to the server's stderr; poll until it shows.
  ProcessResult status;
  for (int attempt = 0; attempt < 50; ++attempt) {
    status = OnLine({"status", "-d", "2"});
    if (status.out.find("nozzle 3") != std::string::npos) break;
  }
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_NE(status.out.find("channel 1, dispenser 2: idle, nozzle 3"), std::string::npos)
      << status.out;
}

TEST_F(QuorlanOnASimulatedLine, APresetOnADispenserWithoutPricesSaysSo) {
  const auto result = OnLine({"preset", "-d", "2", "--volume", "5", "--price", "52.90"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("as one without prices does; send them with quorlan price"),
            std::string::npos)
      << result.err;
}

// A dispenser busy with a fill refuses another authorization: the command
// says so, and does not send the user after prices the dispenser has.
TEST_F(QuorlanOnASimulatedLine, AnAuthorizationRefusedMidFillSaysTheDispenserIsBusy) {
  ASSERT_EQ(OnLine({"price", "-d", "2", "--prices", "1,2,3,4"}).exitCode, 0);
  ASSERT_EQ(OnLine({"authorize", "-d", "2"}).exitCode, 0);
  server.Write("lift 2 1\n");
  ProcessResult status;
  for (int attempt = 0; attempt < 50; ++attempt) {
    status = OnLine({"status", "-d", "2"});
    if (status.out.find("filling") != std::string::npos ||
        status.out.find("finished") != std::string::npos) {
      break;
    }
  }
  ASSERT_EQ(status.exitCode, 0) << status.err;
  const auto result = OnLine({"authorize", "-d", "2"});
  EXPECT_EQ(result.exitCode, 1) << result.out;
  EXPECT_NE(result.err.find("refuses a new authorization until that fill is over"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("quorlan price"), std::string::npos) << result.err;
}

TEST(QuorlanHelp, HelpAsACommandShowsTheHelpAndRangesReadably) {
  const auto top = Quorlan({"help"});
  EXPECT_EQ(top.exitCode, 0) << top.err;
  EXPECT_NE(top.out.find("Usage"), std::string::npos) << top.out;
  const auto status = Quorlan({"help", "status"});
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_NE(status.out.find("-d,--dispenser 1..32"), std::string::npos) << status.out;
  EXPECT_EQ(status.out.find("INT"), std::string::npos) << status.out;
  const auto serve = Quorlan({"serve", "--help"});
  EXPECT_EQ(serve.exitCode, 0) << serve.err;
  for (const char* label : {"--config PATH", "--listen HOST:PORT", "--db PATH"}) {
    EXPECT_NE(serve.out.find(label), std::string::npos) << label << "\n" << serve.out;
  }
  EXPECT_EQ(serve.out.find("TEXT"), std::string::npos) << serve.out;
}

TEST_F(QuorlanOnASimulatedLine, ADispenserThatDoesNotAnswerGivesOneEnglishLine) {
  const auto result = OnLine({"--trace", "status", "-d", "5"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(
      result.err.find("quorlan: status failed on channel 1, dispenser 5: no reply (code 1F4)\n"),
      std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("c1 -> F4 0B A1 5E\n"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("c1 <- no reply (code 1F4)\n"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace quorlan::testing
