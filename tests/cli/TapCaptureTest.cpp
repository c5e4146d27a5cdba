// SPDX-License-Identifier: Apache-2.0
// The engineer's tools end to end on pseudo-terminals: quorlan tap listening
// on the wire between the command and the simulator, its pcap capture read by
// tshark with the shipped dissector, the capture replayed to the command, and
// quorlan scan on the simulator and on a scripted line that echoes or garbles.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "Process.h"
#include "PtyPeer.h"
#include "WireRelay.h"

namespace quorlan::testing {
namespace {

namespace fs = std::filesystem;

ProcessResult RunProgram(const std::vector<std::string>& args) {
  Process process(args);
  return process.Finish();
}

class Capture : public ::testing::Test {
 protected:
  Capture()
      : folder(fs::temp_directory_path() /
               ("quorlan-tap-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())),
        sim({QUORLAN_CLI_PATH, "sim", "--unpaced", "--dispensers", "2"}) {
    fs::create_directories(folder);
    simPath = sim.ReadLine();
  }
  ~Capture() override {
    sim.Signal(SIGTERM);
    sim.Finish();
    fs::remove_all(folder);
  }

  ProcessResult Command(const std::string& port, std::vector<std::string> args) {
    args.insert(args.begin(), {"--log", (folder / "quorlan.log").string(), "--port", port});
    return RunQuorlan(args);
  }

  // Runs the commands on a line the tap listens to; returns the tap's output
  // and leaves the capture in capturePath.
  ProcessResult Tapped(const std::vector<std::vector<std::string>>& commands,
                       std::vector<ProcessResult>* results = nullptr) {
    WireRelay relay(simPath);
    Process tap({QUORLAN_CLI_PATH, "tap", relay.WirePath(), "--pcap", capturePath});
    EXPECT_EQ(tap.ReadLine().rfind("listening on ", 0), 0u);
    for (const auto& args : commands) {
      auto result = Command(relay.HostPath(), args);
      EXPECT_EQ(result.exitCode, 0) << result.err;
      if (results) results->push_back(result);
    }
    relay.HangUpWire();
    return tap.Finish();
  }

  fs::path folder;
  Process sim;
  std::string simPath;
  std::string capturePath = (folder / "line.pcap").string();
};

TEST_F(Capture, TheTapDecodesTheCommandsExchangesAndWritesTheirCapture) {
  const auto tap = Tapped({{"price", "-d", "1", "--prices", "52.90,54.10,61.00,48.75"},
                           {"status", "-d", "1"},
                           {"totals", "-d", "1", "-n", "1"}});
  ASSERT_EQ(tap.exitCode, 0) << tap.err;
  for (const char* line : {
           "dispenser 1 prices (grade1 52.90, grade2 54.10, grade3 61.00, grade4 48.75): valid "
           "reply",
           "dispenser 1 status: valid reply after ",
           "dispenser 1 totals (nozzle 1): valid reply after ",
       }) {
    EXPECT_NE(tap.out.find(line), std::string::npos) << line << "\n" << tap.out;
  }
  EXPECT_EQ(tap.out.find("noise"), std::string::npos) << tap.out;
  EXPECT_GT(fs::file_size(capturePath), 24u);
}

#ifdef QUORLAN_TSHARK_PATH
// Wireshark's reading of the capture, with the shipped dissector: each
// field named, the complement verdict, replies paired with requests.
TEST_F(Capture, TsharkShowsTheDecodedFieldsWithTheShippedDissector) {
  Tapped({{"price", "-d", "1", "--prices", "52.90,54.10,61.00,48.75"}, {"status", "-d", "1"}});
  const auto tshark = RunProgram({QUORLAN_TSHARK_PATH,
                                  "-2",
                                  "-n",
                                  "-X",
                                  "lua_script:" QUORLAN_DISSECTOR_PATH,
                                  "-r",
                                  capturePath,
                                  "-T",
                                  "fields",
                                  "-E",
                                  "separator=;",
                                  "-e",
                                  "quorlan.direction",
                                  "-e",
                                  "quorlan.dispenser",
                                  "-e",
                                  "quorlan.request",
                                  "-e",
                                  "quorlan.grade_price",
                                  "-e",
                                  "quorlan.complement",
                                  "-e",
                                  "quorlan.reply",
                                  "-e",
                                  "quorlan.state",
                                  "-e",
                                  "quorlan.request_in"});
  ASSERT_EQ(tshark.exitCode, 0) << tshark.err;
  EXPECT_EQ(tshark.err.find("Lua"), std::string::npos) << tshark.err;
  // The price table, its reply, then the status poll and its reply.
  EXPECT_NE(tshark.out.find("request;1;prices;52.90,54.10,61.00,48.75;good;;;\n"),
            std::string::npos)
      << tshark.out;
  EXPECT_NE(tshark.out.find("reply;1;prices;;good;valid;;1\n"), std::string::npos) << tshark.out;
  EXPECT_NE(tshark.out.find("reply;1;status;;good;valid;idle;3\n"), std::string::npos)
      << tshark.out;
}
#endif

// The capture's dispenser side, played back, answers the command as the
// simulator did; a request the capture does not hold is reported.
TEST_F(Capture, AReplayedCaptureGivesTheCommandTheSameResult) {
  std::vector<ProcessResult> original;
  const auto tap = Tapped({{"status", "-d", "1"}, {"status", "-d", "2", "--json"}}, &original);
  SCOPED_TRACE(tap.out);
  ASSERT_EQ(original.size(), 2u);
  Process replay({QUORLAN_CLI_PATH, "replay", capturePath});
  const auto line = replay.ReadLine();
  ASSERT_EQ(line.rfind("/dev/", 0), 0u) << line;
  const auto first = Command(line, {"status", "-d", "1"});
  const auto second = Command(line, {"status", "-d", "2", "--json"});
  EXPECT_EQ(first.out, original[0].out);
  EXPECT_EQ(second.out, original[1].out);
  const auto stray = Command(line, {"stop", "-d", "2"});
  EXPECT_NE(stray.exitCode, 0);
  replay.Signal(SIGTERM);
  const auto result = replay.Finish();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.err.find("request 5 differs: dispenser 2 stop"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("1 differed from the capture"), std::string::npos) << result.err;
}

TEST_F(Capture, ScanFindsTheSimulatorsDispensersAndTheirStates) {
  const auto result = RunQuorlan({"scan", simPath, "--to", "3", "--timeout", "100"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "dispenser 1: answers, no prices\n"
            "dispenser 2: answers, no prices\n"
            "2 of 3 addresses answer\n")
      << result.out;
}

struct ScriptedLine {
  const char* name;
  // What the line gives back for the request to `address`.
  std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>& request)> back;
  std::string says;
};

class ScanOnALine : public ::testing::TestWithParam<ScriptedLine> {};

// Two addresses asked; the scripted far end answers each as the case says.
TEST_P(ScanOnALine, TellsTheSetUpFaultApart) {
  PtyPeer peer;
  std::thread line([&] {
    for (int address = 1; address <= 2; ++address) {
      const auto request = peer.Read(4);
      if (request.size() != 4) return;
      const auto back = GetParam().back(request);
      if (!back.empty()) peer.Write(back);
    }
  });
  const auto result = RunQuorlan({"scan", peer.Path(), "--to", "2", "--timeout", "100"});
  line.join();
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find(GetParam().says), std::string::npos) << result.out;
}

std::vector<std::uint8_t> StatusReply() {
  std::vector<std::uint8_t> reply;
  for (std::uint8_t info : {0, 0, 0, 0, 0, 0, 0, 0, 0xA0}) {
    reply.push_back(info);
    reply.push_back(static_cast<std::uint8_t>(~info));
  }
  return reply;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanOnALine,
    ::testing::Values(ScriptedLine{"Silent",
                                   [](const auto&) { return std::vector<std::uint8_t>{}; },
                                   "0 of 2 addresses answer\nnothing at all came back"},
                      ScriptedLine{"Echoes",
                                   [](const auto& request) {
                                     auto back = request;
                                     const auto reply = StatusReply();
                                     back.insert(back.end(), reply.begin(), reply.end());
                                     return back;
                                   },
                                   "dispenser 1: echo of our request, idle\n"},
                      ScriptedLine{"EchoAdvice", [](const auto& request) { return request; },
                                   "set echo = true for serve, --echo for the command"},
                      // A wrong speed: bytes that are no pairs.
                      ScriptedLine{"WrongSpeed",
                                   [](const auto&) {
                                     return std::vector<std::uint8_t>{0x80, 0x80, 0xF8, 0x00};
                                   },
                                   "check the line's speed (9600 baud)"},
                      ScriptedLine{"Answers", [](const auto&) { return StatusReply(); },
                                   "dispenser 2: answers, idle\n2 of 2 addresses answer\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadReplay {
  const char* name;
  std::string content;  // of the capture file
  std::string says;
};

class ReplayRefuses : public ::testing::TestWithParam<BadReplay> {};

TEST_P(ReplayRefuses, ACaptureItCannotPlay) {
  const auto path =
      fs::temp_directory_path() / ("quorlan-replay-" + std::string(GetParam().name) + ".pcap");
  std::ofstream(path, std::ios::binary) << GetParam().content;
  const auto result = RunQuorlan({"replay", path.string()});
  fs::remove(path);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(GetParam().says), std::string::npos) << result.err;
}

// A pcap file header with this link type.
std::string PcapHeader(std::uint32_t linkType) {
  std::string header("\xD4\xC3\xB2\xA1\x02\x00\x04\x00", 8);
  header += std::string(8, '\0');
  header += std::string("\xFF\xFF\x00\x00", 4);
  for (int i = 0; i < 4; ++i) header += static_cast<char>((linkType >> (8 * i)) & 0xFF);
  return header;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplayRefuses,
    ::testing::Values(BadReplay{"Empty", "", "not a pcap file"},
                      BadReplay{"Text", std::string(40, 'x'), "not a pcap file"},
                      BadReplay{"Ethernet", PcapHeader(1), "link type 250"},
                      BadReplay{"NoExchange", PcapHeader(250), "no exchange in it"},
                      BadReplay{"CutInARecord", PcapHeader(250) + std::string(20, '\x01'),
                                "cut short"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorlan::testing
