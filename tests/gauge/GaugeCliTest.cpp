// SPDX-License-Identifier: Apache-2.0
// quorlan gauge against quorlan sim --gauge, as a user runs them: the
// reports over a pseudo-terminal and over TCP, and the error table.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "Process.h"

namespace quorlan::testing {
namespace {

struct SimulatedGauge {
  explicit SimulatedGauge(std::vector<std::string> extra = {}) : server(Args(std::move(extra))) {
    where = server.ReadLine();
  }
  static std::vector<std::string> Args(std::vector<std::string> extra) {
    std::vector<std::string> args{QUORLAN_CLI_PATH, "sim", "--gauge", "--unpaced"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  Process server;
  std::string where;
};

TEST(GaugeCommand, ReadsTheSimulatedGaugeOverAPseudoTerminalAndTcp) {
  SimulatedGauge pty;
  ASSERT_EQ(pty.where.rfind("/dev/", 0), 0u) << pty.where;
  const auto inventory = RunQuorlan({"gauge", "inventory", "--port", pty.where, "--json"});
  ASSERT_EQ(inventory.exitCode, 0) << inventory.err;
  const auto json = nlohmann::json::parse(inventory.out);
  ASSERT_EQ(json["tanks"].size(), 4u);
  EXPECT_EQ(json["tanks"][0]["tank"], 1);
  EXPECT_NEAR(json["tanks"][0]["volume"].get<double>(), 12000, 0.01);
  EXPECT_EQ(json["tanks"][0]["delivering"], false);

  // A delivery typed on the simulator's input (under a second at 800 l a
  // minute) ends up in the delivery report.
  pty.server.Write("deliver 2 10\n");
  nlohmann::json deliveries;
  for (int attempt = 0; attempt < 300 && deliveries.empty(); ++attempt) {
    const auto report = RunQuorlan({"gauge", "deliveries", "--port", pty.where, "--json"});
    ASSERT_EQ(report.exitCode, 0) << report.err;
    deliveries = nlohmann::json::parse(report.out)["deliveries"];
    if (deliveries.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0]["tank"], 2);
  EXPECT_NEAR(deliveries[0]["gauged"]["volume"].get<double>(), 10, 0.02);
  const auto plain = RunQuorlan({"gauge", "deliveries", "--port", pty.where, "-t", "2"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out.rfind("tank 2: delivery ", 0), 0u) << plain.out;
  EXPECT_NE(plain.out.find(", 10.0 l (TC "), std::string::npos) << plain.out;

  SimulatedGauge tcp({"--tcp", "0", "--units", "us"});
  ASSERT_EQ(tcp.where.rfind("tcp://127.0.0.1:", 0), 0u) << tcp.where;
  const auto alarms = RunQuorlan({"gauge", "alarms", "--port", tcp.where});
  ASSERT_EQ(alarms.exitCode, 0) << alarms.err;
  EXPECT_EQ(alarms.out,
            "tank 1: all functions normal\ntank 2: all functions normal\n"
            "tank 3: all functions normal\ntank 4: all functions normal\n");
  const auto us = RunQuorlan(
      {"gauge", "inventory", "--port", tcp.where, "--units", "us", "--tank", "1", "--json"});
  ASSERT_EQ(us.exitCode, 0) << us.err;
  EXPECT_NEAR(nlohmann::json::parse(us.out)["tanks"][0]["volume"].get<double>(), 12000, 0.01);
}

TEST(GaugeCommand, SendsTheSecurityCodeAndNeverPrintsIt) {
  const auto file =
      std::filesystem::temp_directory_path() / ("quorlan-gauge-code-" + std::to_string(::getpid()));
  std::ofstream(file) << "Zq7!x9\n";
  SimulatedGauge guarded({"--security-code-file", file.string()});
  const auto traced = RunQuorlan({"--trace", "gauge", "inventory", "--port", guarded.where,
                                  "--security-code-file", file.string()});
  EXPECT_EQ(traced.exitCode, 0) << traced.err;
  EXPECT_NE(traced.err.find("-> \\x01i20100"), std::string::npos) << traced.err;
  EXPECT_EQ((traced.out + traced.err).find("Zq7!x9"), std::string::npos);
  const auto without =
      RunQuorlan({"gauge", "inventory", "--port", guarded.where, "--timeout", "300"});
  EXPECT_EQ(without.exitCode, 1);
  std::filesystem::remove(file);
}

TEST(GaugeCommand, AnswersEveryMistakeWithOneLineAndItsExitCode) {
  SimulatedGauge broken({"--gauge-fault", "inventory:nan", "--gauge-fault", "alarms:noreply"});
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  } cases[] = {
      {{"gauge", "inventory", "--port", broken.where},
       1,
       "quorlan: gauge inventory failed on " + broken.where +
           ": bad reply (volume is not a number)\n"},
      {{"gauge", "alarms", "--port", broken.where, "--timeout", "200"},
       1,
       "quorlan: gauge alarms failed on " + broken.where + ": no reply (no reply to i20500)\n"},
      {{"gauge", "inventory", "--port", "/dev/quorlan-no-gauge"},
       3,
       "quorlan: cannot open /dev/quorlan-no-gauge: No such file or directory\n"},
      {{"gauge", "inventory", "--port", "tcp://127.0.0.1:99999"},
       2,
       "quorlan: --port tcp://127.0.0.1:99999: a TCP gauge is tcp://HOST:PORT with a port of "
       "1..65535\n"},
      {{"--port", "/dev/ttyS0", "gauge", "inventory"},
       2,
       "quorlan: the gauge takes its own --port, after the report: quorlan gauge inventory "
       "--port PATH\n"},
      {{"gauge", "alarms", "--security-code-file", "/nonexistent/code"},
       2,
       "quorlan: --security-code-file /nonexistent/code: cannot be read\n"},
  };
  for (const auto& c : cases) {
    const auto result = RunQuorlan(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.message;
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(result.out, "");
  }
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"gauge", "inventory", "--tank", "100"},
                                             {"gauge", "deliveries", "--format", "display"},
                                             {"gauge", "level"},
                                             {"sim", "--gauge", "--gauge-fault", "inventory:melt"},
                                             {"sim", "--gauge", "--dispensers", "2"},
                                             {"sim", "--tanks", "2"}}) {
    EXPECT_EQ(RunQuorlan(args).exitCode, 2) << args.back();
  }
  const auto json = RunQuorlan({"gauge", "inventory", "--port", broken.where, "--json"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(nlohmann::json::parse(json.out)["exit_code"], 1);
}

}  // namespace
}  // namespace quorlan::testing
