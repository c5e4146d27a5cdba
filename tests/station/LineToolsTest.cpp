// SPDX-License-Identifier: Apache-2.0
// The engineer's settings of a line under `quorlan serve`: its capture holds
// every request the simulator received and the replies to them, as the
// shipped dissector reads them; an adapter that hears itself works with
// echo set and not without; and what a check says of bad settings.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

#include "Process.h"
#include "ServiceFixture.h"
#include "capture/Pcap.h"
#include "sim/Requests.h"

namespace quorlan::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view kPrices =
    R"([{"channel":1,"dispenser":1,"grade":1,"price":52.90},
        {"channel":1,"dispenser":1,"grade":2,"price":54.90},
        {"channel":1,"dispenser":1,"grade":3,"price":58.90},
        {"channel":1,"dispenser":1,"grade":4,"price":61.90}])";

// Prices, then one fill of three litres, to its journal row.
void MakeAFill(ServiceFixture& station) {
  ASSERT_EQ(station.Call("PUT", "/api/v1/prices", kAdminSecret, std::string(kPrices)).status, 200);
  station.WaitFor("/api/v1/dispensers/1/1",
                  [](const json& dispenser) { return dispenser["state"] == "idle"; });
  const Reply authorized = station.Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret,
                                        R"({"grade":2,"volume":3.00})");
  ASSERT_EQ(authorized.status, 200) << authorized.body.dump();
  station.WaitFor("/api/v1/fills", [](const json& fills) { return fills.size() == 1; });
}

std::optional<sim::Request> RequestOf(const pcap::Record& record) {
  const auto info = sim::DecodePairs(record.bytes);
  if (!info || info->size() < 2) return std::nullopt;
  const auto target = sim::DecodeAddress((*info)[0]);
  if (!target) return std::nullopt;
  return sim::ClassifyRequest(target->second, (*info)[1]);
}

constexpr std::int64_t kMinute = 60'000'000;

std::int64_t MicrosNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// tshark's reading with the shipped dissector: the fill's requests and their
// valid replies, the lines given in `more`, and no bytes nobody asked for.
void ExpectDecodedFill(const std::string& capture, const std::vector<std::string>& more) {
#ifdef QUORLAN_TSHARK_PATH
  Process tshark({QUORLAN_TSHARK_PATH, "-2", "-n", "-X", "lua_script:" QUORLAN_DISSECTOR_PATH, "-r",
                  capture, "-T", "fields", "-E", "separator=;", "-e", "quorlan.direction", "-e",
                  "quorlan.request", "-e", "quorlan.reply"});
  const ProcessResult shown = tshark.Finish();
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  std::vector<std::string> lines{"request;prices;\n", "reply;prices;valid\n", "request;preset;\n",
                                 "reply;preset;valid\n", "reply;status;valid\n"};
  lines.insert(lines.end(), more.begin(), more.end());
  for (const std::string& line : lines) {
    EXPECT_NE(shown.out.find(line), std::string::npos) << line << shown.out;
  }
  EXPECT_EQ(shown.out.find("reply;;"), std::string::npos) << "bytes nobody asked for";
#else
  (void)capture;
  (void)more;
#endif
}

TEST(LineTools, ServeCapturesEveryRequestAndItsReplyForWireshark) {
  ServiceFixture station({.dispensers = 1, .flowRate = 2, .autoNozzle = true});
  const std::string capture = (station.Directory() / "line1.pcap").string();
  station.Configure({.line = "capture = \"" + capture + "\"\n"});
  const std::int64_t started = MicrosNow();
  station.StartService();
  MakeAFill(station);
  ASSERT_EQ(station.StopService(), 0);
  const std::int64_t ended = MicrosNow();

  const auto records = pcap::Read(capture);
  // Each request the simulator took is in the capture, and nothing else went out.
  std::map<sim::Request, std::uint64_t> sent;
  std::map<sim::Request, int> answered;  // good replies of the length asked for
  std::optional<sim::Request> asked;
  for (const auto& record : records) {
    // Stamped with the wall clock's time of the reading (a minute's leeway
    // for a clock that is set meanwhile).
    EXPECT_GE(record.micros, started - kMinute);
    EXPECT_LE(record.micros, ended + kMinute);
    if (record.fromHost) {
      asked = RequestOf(record);
      ASSERT_TRUE(asked) << "host bytes that are no request";
      ++sent[*asked];
    } else if (asked && sim::DecodePairs(record.bytes) &&
               record.bytes.size() == 2 * std::size_t(sim::ReplyInfoBytes(*asked))) {
      ++answered[*asked];
    }
  }
  ServiceFixture::WaitUntil([&] {
    for (int kind = 0; kind < sim::kRequestKinds; ++kind) {
      const auto request = static_cast<sim::Request>(kind);
      if (station.Line().Count(request) != sent[request]) return false;
    }
    return true;
  });
  for (const auto request :
       {sim::Request::Status, sim::Request::PriceTable, sim::Request::PresetAuthorize}) {
    EXPECT_GT(sent[request], 0u) << sim::RequestName(request);
    EXPECT_GT(answered[request], 0) << sim::RequestName(request);
  }

  ExpectDecodedFill(capture, {});
}

// The simulator's wire gives every request back before the reply, as a
// two-wire adapter that hears itself; the dissector tells the echo apart.
TEST(LineTools, AnAdapterThatHearsItselfWorksWithEchoSet) {
  ServiceFixture station({.dispensers = 1, .flowRate = 2, .autoNozzle = true}, {.echo = true});
  const std::string capture = (station.Directory() / "line1.pcap").string();
  station.Configure({.line = "echo = true\ncapture = \"" + capture + "\"\n"});
  station.StartService();
  MakeAFill(station);
  EXPECT_EQ(station.StopService(), 0);
  ExpectDecodedFill(capture, {"echo;;\n"});

  // Played back at the desk, the capture answers the command as the line
  // did, its echoes left out.
  Process replay({QUORLAN_CLI_PATH, "replay", capture});
  const std::string played = replay.ReadLine();
  ASSERT_EQ(played.rfind("/dev/", 0), 0u) << played;
  const ProcessResult status = RunQuorlan({"--log", (station.Directory() / "quorlan.log").string(),
                                           "--port", played, "status", "-d", "1"});
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_EQ(status.out.rfind("channel 1, dispenser 1: ", 0), 0u) << status.out;
  replay.Signal(SIGTERM);
  EXPECT_EQ(replay.Finish().exitCode, 0);
}

TEST(LineTools, AnAdapterThatHearsItselfTakesItsEchoForABadReplyWithoutEchoSet) {
  ServiceFixture station({.dispensers = 1}, {.echo = true});
  station.StartService();
  station.WaitFor("/api/v1/dispensers/1/1",
                  [](const json& dispenser) { return dispenser["link"] == "bad reply"; });
  EXPECT_EQ(station.StopService(), 0);
}

TEST(LineTools, ACheckNamesEachBadLineSetting) {
  struct Case {
    const char* what;
    std::string keys;  // of the first line
    std::string message;
  };
  const fs::path folder = fs::temp_directory_path() / ("quorlan-tools-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const std::string line = "[[line]]\nchannel = 1\nport = \"/dev/null\"\ndispensers = [1]\n";
  const std::string capture = "capture = \"" + (folder / "line.pcap").string() + "\"\n";
  const std::vector<Case> cases = {
      {"echo as a word", "echo = \"yes\"\n", ":5: 'echo' must be true or false"},
      {"capture into no folder", "capture = \"/no/such/folder/line.pcap\"\n",
       ":5: 'capture' /no/such/folder/line.pcap: the folder /no/such/folder does not exist"},
      {"capture a folder", "capture = \"" + folder.string() + "\"\n", "is a folder"},
      {"capture without a name", "capture = \"\"\n", ":5: 'capture' must name a file"},
      {"capture as a number", "capture = 3\n", ":5: 'capture' must be a string"},
      {"no size", capture + "capture_size_mb = 0\n", ":6: 'capture_size_mb' must be 1..4096"},
      {"files below none", capture + "capture_files = -1\n", ":6: 'capture_files' must be 0..1000"},
      {"files without a capture", "capture_files = 3\n", ":5: 'capture_files' needs 'capture'"},
      {"one capture for two lines",
       capture + "[[line]]\nchannel = 2\nport = \"/dev/null\"\ndispensers = [1]\n" + capture,
       ":10: capture " + (folder / "line.pcap").string() + " is channel 1's already"},
      {"echo on the simulator", "echo = true\nport = \"sim\"\n", "need a serial port"},
  };
  const std::string config = (folder / "station.toml").string();
  for (const auto& c : cases) {
    std::string text = line + c.keys;
    if (c.keys.find("port = \"sim\"") != std::string::npos) {
      text = "[[line]]\nchannel = 1\ndispensers = [1]\n" + c.keys;
    }
    std::ofstream(config) << text;
    const ProcessResult result = RunQuorlan({"serve", "--check", "--config", config});
    EXPECT_EQ(result.exitCode, 2) << c.what << ": " << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.what << ": " << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << c.what << result.err;
  }
  std::ofstream(config) << line << capture
                        << "capture_size_mb = 1\ncapture_files = 0\necho = true\n";
  const ProcessResult sound = RunQuorlan({"serve", "--check", "--config", config});
  EXPECT_EQ(sound.exitCode, 0) << sound.err;
  EXPECT_FALSE(fs::exists(folder / "line.pcap")) << "a check started a capture";
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorlan::testing
