// SPDX-License-Identifier: Apache-2.0
// A real `quorlan serve` with [fleet] over simulated dispensers, a real
// broker (the shipped ACL), PostgreSQL and head office: the station's
// journal reaches head office row for row, through SIGKILLs of the station
// at random moments of its publishing, and a price push made while the
// station is down is applied once when it returns.
// QUORLAN_FLEET_KILL_ROUNDS (default 5) and QUORLAN_FLEET_KILL_SEED choose the run.

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include "FleetHarness.h"
#include "ServiceHarness.h"

namespace quorlan::fleet_test {
namespace {

namespace service = service_test;

constexpr auto kLong = std::chrono::seconds(120);
constexpr const char* kStation = "station-1";
constexpr int kDispensers = 2;

int Setting(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text ? std::atoi(text) : fallback;
}

// The station's configuration with [fleet] pointing at the broker; resends
// come quickly, so that a kill's lost acknowledgements are soon made good.
std::string StationConfig(const service::TempDir& dir, const service::SimLines& lines,
                          const Broker& broker) {
  const std::string config = service::WriteConfig(dir, &lines);
  const std::string password = dir.File("fleet.password");
  std::ofstream(password) << ExamplePassword(kStation) << "\n";
  std::ofstream(config, std::ios::app)
      << "[fleet]\nbroker = \"" << broker.Url() << "\"\nstation_id = \"" << kStation
      << "\"\npassword_file = \"" << password << "\"\nresend_after = 2\n";
  return config;
}

// Rows of the station database, read beside the running service.
std::vector<std::vector<std::string>> StationRows(const std::string& database,
                                                  const std::string& query) {
  std::vector<std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, query.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
          const auto* text = sqlite3_column_text(statement, i);
          row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        rows.push_back(std::move(row));
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return rows;
}

std::string StationScalar(const std::string& database, const std::string& query) {
  const auto rows = StationRows(database, query);
  return rows.empty() || rows[0].empty() ? "" : rows[0][0];
}

// Every (kind, id, version) of the station's outbox, as head office keys them.
std::string OutboxKeys(const std::string& database, const std::string& kind) {
  return StationScalar(database,
                       "SELECT coalesce(group_concat(record_id || ':' || version, ','), '') FROM "
                       "(SELECT record_id, version FROM fleet_outbox WHERE kind = '" +
                           kind + "' ORDER BY version)");
}

std::string OfficeKeys(const Postgres& postgres, const std::string& table,
                       const std::string& idColumn) {
  return postgres.Scalar("SELECT coalesce(string_agg(" + idColumn +
                         " || ':' || version, ',' ORDER BY version), '') FROM " + table +
                         " WHERE station = '" + kStation + "'");
}

bool AllConfirmed(const std::string& database) {
  return StationScalar(database, "SELECT count(*) FROM fleet_outbox WHERE confirmed_ms IS NULL") ==
         "0";
}

// Nothing lost, nothing twice: head office holds exactly the outbox's
// (id, version) of every kind, and each fill's latest version there is the
// fill as the station's journal now answers it.
void ExpectOfficeEqualsJournal(const Postgres& postgres, const std::string& database,
                               httplib::Client& station) {
  ASSERT_TRUE(WaitFor([&] { return AllConfirmed(database); }, kLong));
  const std::pair<const char*, std::pair<const char*, const char*>> kinds[] = {
      {"fill", {"fills", "fill_id"}},
      {"shift", {"shifts", "shift_id"}},
      {"alarm", {"alarms", "alarm_id"}},
      {"price-outcome", {"price_outcomes", "command_id"}}};
  for (const auto& [kind, table] : kinds) {
    EXPECT_EQ(OfficeKeys(postgres, table.first, table.second), OutboxKeys(database, kind)) << kind;
  }
  const auto fills = station.Get("/api/v1/fills?status=all&limit=1000");
  ASSERT_TRUE(fills && fills->status == 200);
  const json journal = json::parse(fills->body);
  for (const json& fill : journal) {
    const std::string id = std::to_string(fill["id"].get<std::int64_t>());
    const json latest = json::parse(
        postgres.Scalar("SELECT data::text FROM fills WHERE station = '" + std::string(kStation) +
                        "' AND fill_id = '" + id + "' ORDER BY version DESC LIMIT 1"));
    for (const char* field : {"status", "channel", "dispenser", "nozzle", "grade", "price",
                              "volume", "amount", "finished_at", "paid", "settled_from"}) {
      EXPECT_EQ(latest[field], fill[field]) << "fill " << id << " " << field;
    }
  }
}

bool NoOpenFills(httplib::Client& client) {
  const auto open = client.Get("/api/v1/fills?status=open");
  return open && open->status == 200 && json::parse(open->body).empty();
}

class ServedStationTest : public ::testing::Test {
 protected:
  Broker broker_{BrokerOptions{.shippedAccessControl = true}};
  Postgres postgres_;
  HeadOffice office_{broker_, postgres_};
  service::TempDir dir_;
  service::SimLines lines_{dir_.Path(), 1, kDispensers, 10};
  std::string config_ = StationConfig(dir_, lines_, broker_);
  std::string database_ = dir_.File("station.db");
};

TEST_F(ServedStationTest, KilledWhilePublishingItsJournalStillReachesHeadOfficeRowForRow) {
  const int rounds = Setting("QUORLAN_FLEET_KILL_ROUNDS", 5);
  const unsigned seed = static_cast<unsigned>(
      Setting("QUORLAN_FLEET_KILL_SEED", static_cast<int>(std::random_device{}())));
  SCOPED_TRACE("QUORLAN_FLEET_KILL_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < rounds; ++round) {
    service::Service station(dir_, config_);
    if (round == 0) service::SeedPrices(*station.Client("admin"), 1, kDispensers);
    std::atomic<bool> selling{true};
    std::thread customers([&, customerSeed = random()] {
      std::mt19937 mine(customerSeed);
      auto pos = station.Client("operate");
      pos->set_read_timeout(std::chrono::seconds(5));
      while (selling) {
        const int d = 1 + static_cast<int>(mine() % kDispensers);
        const json body{{"grade", 1 + static_cast<int>(mine() % 4)},
                        {"volume", static_cast<double>(20 + mine() % 80) / 100}};
        pos->Post("/api/v1/dispensers/1/" + std::to_string(d) + "/authorize", body.dump(),
                  "application/json");
        std::this_thread::sleep_for(std::chrono::milliseconds(mine() % 50));
      }
    });
    // Some rounds close a shift too: its report goes the same way.
    if (random() % 2 == 0) station.Client("admin")->Post("/api/v1/shifts/close");
    std::this_thread::sleep_for(std::chrono::milliseconds(200 + random() % 1500));
    station.Kill();
    selling = false;
    customers.join();
  }

  service::Service station(dir_, config_);
  auto client = station.Client("admin");
  ASSERT_TRUE(WaitFor([&] { return NoOpenFills(*client); }, kLong));
  ASSERT_NE(StationScalar(database_, "SELECT count(*) FROM fills WHERE status = 'done'"), "0");
  ExpectOfficeEqualsJournal(postgres_, database_, *client);
  EXPECT_EQ(service::IntegrityCheck(database_), "ok");
  std::printf("%d kills: %s fills, %s outbox rows at head office\n", rounds,
              StationScalar(database_, "SELECT count(*) FROM fills").c_str(),
              StationScalar(database_, "SELECT count(*) FROM fleet_outbox").c_str());
}

TEST_F(ServedStationTest, PricePushWhileTheStationIsDownIsAppliedOnceWhenItReturns) {
  httplib::Client office("127.0.0.1", office_.Port());
  const httplib::Headers admin{{"Authorization", std::string("Bearer ") + kAdminToken}};
  const httplib::Headers view{{"Authorization", std::string("Bearer ") + kViewToken}};
  const auto online = [&](bool wanted) {
    const auto stations = office.Get("/api/v1/stations", view);
    if (!stations || stations->status != 200) return false;
    for (const json& each : json::parse(stations->body)) {
      if (each["station"] == kStation) return each["online"] == wanted;
    }
    return false;
  };
  const auto push = [&](const std::string& id, const std::string& price) {
    const auto answer = office.Post(
        "/api/v1/prices", admin,
        R"({"command_id":")" + id + R"(","stations":[")" + kStation +
            R"("],"prices":[{"channel":1,"dispenser":1,"grade":2,"price":)" + price + "}]}",
        "application/json");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 202) << answer->body;
  };
  const auto outcome = [&](const std::string& id) {
    const auto answer = office.Get("/api/v1/prices/" + id, view);
    if (!answer || answer->status != 200) return json();
    return json::parse(answer->body)["outcomes"].value(kStation, json());
  };

  {
    // Known to the broker, whose session for it outlives the stop.
    service::Service station(dir_, config_);
    service::SeedPrices(*station.Client("admin"), 1, kDispensers);
    ASSERT_TRUE(WaitFor([&] { return online(true); }, kLong));
    ASSERT_EQ(station.Terminate(), 0);
  }
  ASSERT_TRUE(WaitFor([&] { return online(false); }, kLong));
  push("push-1", "12.34");
  push("push-1", "12.34");  // the office unsure, trying again

  service::Service station(dir_, config_);
  auto client = station.Client("admin");
  ASSERT_TRUE(WaitFor([&] { return !outcome("push-1").is_null(); }, kLong));
  EXPECT_EQ(outcome("push-1")["status"], "applied");
  const auto book = json::parse(client->Get("/api/v1/prices")->body);
  EXPECT_NE(book.dump().find(R"("grade":2,"price":12.34)"), std::string::npos) << book.dump();

  // The same id again, then a list the station refuses, behind it on the
  // same topic: once that one is answered the repeat has been seen.
  push("push-1", "12.34");
  const auto refused =
      office.Post("/api/v1/prices", admin,
                  R"({"command_id":"push-2","stations":[")" + std::string(kStation) +
                      R"("],"prices":[{"channel":1,"dispenser":9,"grade":1,"price":1.00}]})",
                  "application/json");
  ASSERT_TRUE(refused && refused->status == 202);
  ASSERT_TRUE(WaitFor([&] { return !outcome("push-2").is_null(); }, kLong));
  EXPECT_EQ(outcome("push-2")["status"], "refused");
  EXPECT_EQ(outcome("push-2")["detail"], "no dispenser 1/9");
  EXPECT_EQ(StationScalar(database_, "SELECT count(*) FROM fleet_commands"), "2");
  EXPECT_EQ(
      StationScalar(database_, "SELECT count(*) FROM fleet_outbox WHERE kind = 'price-outcome'"),
      "2");
  // One change of the book: the price event of the seeding and of push-1.
  EXPECT_EQ(StationScalar(database_, "SELECT count(*) FROM events WHERE name = 'prices'"), "2");
  ExpectOfficeEqualsJournal(postgres_, database_, *client);
}

}  // namespace
}  // namespace quorlan::fleet_test
