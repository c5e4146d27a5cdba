// SPDX-License-Identifier: Apache-2.0
// The database's directory deleted under the running service: it notices,
// says so (health 503, an alarm, its log), refuses new authorizations,
// keeps polling and stopping, and journals the fill that was open once the
// directory is back. Another process's write lock taken while an
// authorization goes out: the fuel flows, so the answer says it did.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "EventStream.h"
#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

int HealthStatus(httplib::Client& client) {
  const auto answer = client.Get("/api/v1/health");
  return answer ? answer->status : 0;
}

TEST(JournalLoss, IsNoticedAuthorizationsAreRefusedAndTheOpenFillIsJournaledOnceBack) {
  TempFolder dir;
  SimLines lines(dir.Path(), 1, 2, 1);
  const std::string folder = dir.File("db");
  std::filesystem::create_directory(folder);
  const std::string config = WriteConfig(dir, &lines);
  const std::string moved =
      std::regex_replace(ReadFile(config), std::regex("database = \"[^\"]*\""),
                         "database = \"" + folder + "/station.db\"");
  std::ofstream(config) << moved;

  Service service(dir, config);
  SeedPrices(*service.Client("admin"), 1, 2);
  auto pos = service.Client("operate");
  EventStream events(service.Port(), SecretOf("view"));
  ASSERT_TRUE(WaitFor([&] { return View(*pos, 1, 2)["state"] == "idle"; }));
  ASSERT_EQ(HealthStatus(*pos), 200);
  const auto authorized = pos->Post("/api/v1/dispensers/1/1/authorize",
                                    R"({"grade":1,"volume":5.00})", "application/json");
  ASSERT_EQ(authorized->status, 200);
  const auto id = json::parse(authorized->body)["fill_id"].get<std::int64_t>();
  ASSERT_TRUE(WaitFor([&] { return Hundredths(View(*pos, 1, 1)["volume"]) > 0; }));

  std::filesystem::remove_all(folder);
  EXPECT_TRUE(WaitFor([&] { return HealthStatus(*pos) == 503; }));
  EXPECT_TRUE(WaitFor([&] {
    for (const json& alarm : events.AlarmEvents()) {
      if (alarm["kind"] == "database") return true;
    }
    return false;
  }));
  const auto refused =
      pos->Post("/api/v1/dispensers/1/2/authorize", R"({"grade":1})", "application/json");
  EXPECT_EQ(refused->status, 503) << refused->body;
  EXPECT_EQ(lines.Line(1).Snapshot(2).state, sim::DispenserState::Idle);
  // Stops and polling go on.
  EXPECT_EQ(pos->Post("/api/v1/dispensers/1/1/stop", "", "application/json")->status, 200);
  EXPECT_TRUE(WaitFor([&] {
    return lines.Line(1).Snapshot(1).state == sim::DispenserState::Finished ||
           lines.Line(1).Snapshot(1).state == sim::DispenserState::Idle;
  }));
  EXPECT_TRUE(WaitFor([&] { return View(*pos, 1, 1)["state"] != "filling"; }));
  EXPECT_NE(ReadFile(dir.File("serve.err")).find("database"), std::string::npos);

  std::filesystem::create_directory(folder);
  EXPECT_TRUE(WaitFor([&] { return HealthStatus(*pos) == 200; }));
  json fill;
  EXPECT_TRUE(WaitFor([&] { return (fill = FillOf(*pos, id))["status"] == "completed"; }))
      << fill.dump();
  const auto sales = lines.Line(1).Snapshot(1).sales;
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_EQ(Difference(fill, sales.front()), "");
  EXPECT_EQ(service.Terminate(), 0);
}

// The lock is taken as the authorization reaches the line: its journal row
// and its key are stored, its acknowledgement and its answer cannot be.
TEST(JournalLoss, AnAuthorizationThatWentOutUnderAnotherProcesssLockIsAnsweredWithItsFill) {
  TempDir dir;
  SimLines lines(dir.Path(), 1, 1, 1);
  Service service(dir, WriteConfig(dir, &lines));
  SeedPrices(*service.Client("admin"), 1, 1);
  auto pos = service.Client("operate");
  ASSERT_TRUE(WaitFor([&] { return View(*pos, 1, 1)["state"] == "idle"; }));
  LockAtAuthorization lock(lines, 1, dir.File("station.db"));
  const httplib::Headers key{{"Idempotency-Key", "sale-1"}};
  const std::string authorize = "/api/v1/dispensers/1/1/authorize";
  const std::string body = R"({"grade":1,"volume":1.00})";
  std::atomic<int> status{0};
  std::string said;
  std::thread till([&] {
    const auto answer = service.Client("operate")->Post(authorize, key, body, "application/json");
    said = answer ? answer->body : "";
    status = answer ? answer->status : -1;
  });
  ASSERT_TRUE(WaitFor([&] { return status != 0; }, std::chrono::seconds(120)));
  till.join();
  ASSERT_TRUE(lock.Taken());
  lock.Release();

  ASSERT_EQ(status, 200) << said;
  const json first = json::parse(said);
  ASSERT_TRUE(first["fill_id"].is_number()) << said;
  const std::int64_t id = first["fill_id"];
  ASSERT_TRUE(WaitFor([&] { return FillOf(*pos, id)["status"] == "completed"; }));
  EXPECT_EQ(Hundredths(FillOf(*pos, id)["volume"]), 100);
  EXPECT_EQ(Imbalance(ReadJournal(*pos), lines), "");
  // Its answer could not be stored: the repeat learns it from the journal.
  const auto repeat = pos->Post(authorize, key, body, "application/json");
  ASSERT_TRUE(repeat);
  ASSERT_EQ(repeat->status, 200) << repeat->body;
  EXPECT_EQ(json::parse(repeat->body)["fill_id"], id);
}

}  // namespace
}  // namespace quorlan::service_test
