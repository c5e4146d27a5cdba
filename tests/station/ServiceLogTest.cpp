// SPDX-License-Identifier: Apache-2.0
// The service's logs as an operator finds them: UTF-8 lines stamped with
// date, time and zone, and a SIGHUP after logrotate's rename that moves the
// audit log to a new file while the service runs on.

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "Process.h"
#include "ServiceFixture.h"

namespace quorlan::testing {
namespace {

const std::string kSecret = "view-secret-0123456789";

std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Every line of the text, checked for its stamp and its end.
void ExpectStampedLines(const std::string& text, const std::string& what) {
  static const std::regex kStamped(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) \S.*)");
  EXPECT_FALSE(text.empty()) << what;
  EXPECT_EQ(text.find('\r'), std::string::npos) << what;
  EXPECT_EQ(text.back(), '\n') << what;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, kStamped)) << what << ": " << line;
  }
}

TEST(ServiceLogs, AreStampedLinesAndSighupMovesTheAuditLogToANewFile) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("quorlan-logs-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto config = dir / "station.toml";
  std::ofstream(config) << "database = \"" << (dir / "station.db").string() << "\"\n"
                        << "audit_log = \"" << (dir / "audit.log").string() << "\"\n"
                        << "audit_reads = true\n"
                        << "driver_log = \"" << (dir / "driver.log").string() << "\"\n"
                        << "[[line]]\nchannel = 1\nport = \"sim\"\ndispensers = [1]\n"
                        << "[[token]]\nname = \"view\"\nrole = \"view\"\nsecret = \"" << kSecret
                        << "\"\n";
  Process service(
      {QUORLAN_CLI_PATH, "serve", "--config", config.string(), "--listen", "127.0.0.1:0"});
  const std::string address = service.ReadLine();
  const auto colon = address.rfind(':');
  ASSERT_NE(colon, std::string::npos) << address << service.Finish().err;
  httplib::Client client("127.0.0.1", std::stoi(address.substr(colon + 1)));
  const httplib::Headers token{{"Authorization", "Bearer " + kSecret}};
  const auto request = [&] {
    const auto reply = client.Get("/api/v1/dispensers", token);
    return reply && reply->status == 200;
  };
  ASSERT_TRUE(request());
  // The audit line may follow the answer: waited for, so that it is not the
  // one to find the new file.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Read(dir / "audit.log").empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  // logrotate renames, then reloads the service.
  std::filesystem::rename(dir / "audit.log", dir / "audit.log.1");
  service.Signal(SIGHUP);
  bool moved = false;
  while (!moved && std::chrono::steady_clock::now() < deadline) {
    ASSERT_TRUE(request()) << "the service did not survive SIGHUP";
    moved = std::filesystem::exists(dir / "audit.log") && !Read(dir / "audit.log").empty();
    if (!moved) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(moved) << "the audit log was not reopened";
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Finish().exitCode, 0);

  ExpectStampedLines(Read(dir / "audit.log.1"), "the rotated audit log");
  ExpectStampedLines(Read(dir / "audit.log"), "the new audit log");
  const std::string driver = Read(dir / "driver.log");
  ExpectStampedLines(driver, "the driver log");
  // A healthy line at the info level: its opening, and no exchange.
  EXPECT_NE(driver.find(" channel 1: line opened\n"), std::string::npos) << driver;
  EXPECT_EQ(driver.find("Verif("), std::string::npos) << driver;
  std::filesystem::remove_all(dir);
}

// The audit log is who did what: commands, whether they went through or
// were refused, and requests without a valid token, a run of the same one
// as a single line; reads only with `audit_reads`.
TEST(ServiceLogs, TheAuditLogRecordsCommandsAndRefusalsNotReads) {
  ServiceFixture station({.dispensers = 1});
  station.StartService();
  struct Case {
    std::string method, path, secret, body;
    int times;
  };
  const std::string prices = R"([{"channel":1,"dispenser":1,"grade":1,"price":52.90}])";
  const Case requests[] = {
      {"GET", "/api/v1/health", "", "", 3},
      {"GET", "/api/v1/dispensers", kViewSecret, "", 3},
      {"GET", "/metrics", kViewSecret, "", 1},
      {"GET", "/", "", "", 1},
      {"PUT", "/api/v1/prices", kAdminSecret, prices, 1},
      {"POST", "/api/v1/stop", kOperateSecret, "", 1},
      {"POST", "/api/v1/stop", kViewSecret, "", 1},
      {"GET", "/api/v1/fills", "not-a-valid-token-at-all", "", 5},
  };
  for (const Case& c : requests) {
    for (int i = 0; i < c.times; ++i) station.Call(c.method, c.path, c.secret, c.body);
  }
  ASSERT_EQ(station.StopService(), 0);
  const std::multiset<std::string> expected = {
      "office PUT /api/v1/prices 200", "pos-1 POST /api/v1/stop 200", "view POST /api/v1/stop 403",
      "- GET /api/v1/fills 401"};
  const auto lines = [&] {
    std::multiset<std::string> found;
    std::istringstream text(Read(station.Directory() / "audit.log"));
    for (std::string line; std::getline(text, line);) found.insert(line.substr(line.find(' ') + 1));
    return found;
  };
  EXPECT_EQ(lines(), expected);

  station.Configure({.top = "audit_reads = true\n"});
  station.StartService();
  EXPECT_EQ(station.Get("/api/v1/dispensers").status, 200);
  ASSERT_EQ(station.StopService(), 0);
  EXPECT_EQ(lines().count("view GET /api/v1/dispensers 200"), 1u);
}

}  // namespace
}  // namespace quorlan::testing
