// SPDX-License-Identifier: Apache-2.0
// The fleet end to end over a real broker and a real PostgreSQL: every
// station record reaches head office's journal once, through broker
// outages and head office kills; the shipped ACL keeps stations in their
// lane; a price push is applied once however often it arrives.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <fstream>
#include <mutex>

#include "FleetHarness.h"
#include "Mqtt.h"
#include "Outbox.h"
#include "Topics.h"

namespace quorlan::fleet_test {
namespace {

constexpr auto kLong = std::chrono::seconds(120);

std::int64_t Count(const Postgres& postgres, const std::string& sql) {
  const auto text = postgres.Scalar(sql);
  return text.empty() ? 0 : std::stoll(text);
}

std::int64_t FillRows(const Postgres& postgres, const std::string& station) {
  return Count(postgres, "SELECT count(*) FROM fills WHERE station = '" + station + "'");
}

// Every row head office holds for a station is the station's, once: as many
// rows as were sent and the same sum of amounts.
void ExpectJournalEquals(const Postgres& postgres, const std::string& station, int rows,
                         double amount) {
  EXPECT_EQ(FillRows(postgres, station), rows) << station;
  EXPECT_EQ(
      Count(postgres, "SELECT count(DISTINCT (fill_id, version)) FROM fills WHERE station = '" +
                          station + "'"),
      rows);
  EXPECT_NEAR(std::stod(postgres.Scalar(
                  "SELECT coalesce(sum(amount), 0) FROM fills WHERE station = '" + station + "'")),
              amount, 0.001);
}

httplib::Headers Bearer(const std::string& token) {
  return {{"Authorization", "Bearer " + token}};
}

class FleetTest : public ::testing::Test {
 protected:
  Broker broker_{BrokerOptions{.shippedAccessControl = true}};
  Postgres postgres_;
};

TEST_F(FleetTest, EveryFillOfTwoStationsReachesHeadOfficeOnceAndIsServed) {
  HeadOffice office(broker_, postgres_);
  TestStation first("station-1", broker_);
  TestStation second("station-2", broker_);
  constexpr int kFills = 100;
  // Some fills are queued before the publishers run, some while they do.
  for (int id = 1; id <= kFills / 2; ++id) first.AddFill(id, 1, Fill(id, 1, 1 + id % 4, 2, 3));
  first.Start();
  second.Start();
  for (int id = kFills / 2 + 1; id <= kFills; ++id) first.AddFill(id, 1, Fill(id, 1, 1, 2, 3));
  for (int id = 1; id <= kFills; ++id) second.AddFill(id, 1, Fill(id, 2, 1, 1, 1.5));
  // A later state of fill 1 is another version, kept beside the first.
  second.AddFill(1, 2, Fill(1, 2, 1, 1, 1.5, "completed"));

  ASSERT_TRUE(
      WaitFor([&] { return first.Unconfirmed() == 0 && second.Unconfirmed() == 0; }, kLong));
  ExpectJournalEquals(postgres_, "station-1", kFills, kFills * 3.0);
  ExpectJournalEquals(postgres_, "station-2", kFills + 1, (kFills + 1) * 1.5);

  httplib::Client client("127.0.0.1", office.Port());
  ASSERT_TRUE(WaitFor([&] {
    const auto stations = client.Get("/api/v1/stations", Bearer(kViewToken));
    if (!stations || stations->status != 200) return false;
    const auto list = json::parse(stations->body);
    return list.size() == 2 && list[0]["online"] == true && list[1]["online"] == true;
  }));
  const auto fills = client.Get("/api/v1/fills?station=station-2&limit=1000", Bearer(kViewToken));
  ASSERT_TRUE(fills);
  ASSERT_EQ(fills->status, 200);
  EXPECT_EQ(json::parse(fills->body).size(), std::size_t(kFills));  // latest versions only
  const auto days =
      client.Get("/api/v1/totals/days?from=2026-12-07&to=2026-12-07", Bearer(kViewToken));
  ASSERT_TRUE(days);
  ASSERT_EQ(days->status, 200) << days->body;
  const auto totals = json::parse(days->body);
  ASSERT_EQ(totals.size(), 2u);
  EXPECT_EQ(totals[0]["count"], kFills);
  EXPECT_DOUBLE_EQ(totals[0]["amount"].get<double>(), kFills * 3.0);

  struct Case {
    std::string method, path, token, body;
    int status;
  };
  const std::string price =
      R"({"stations":["station-1"],"prices":[{"channel":1,"dispenser":1,"grade":1,"price":%s}]})";
  const auto withPrice = [&](const std::string& value) {
    std::string body = price;
    body.replace(body.find("%s"), 2, value);
    return body;
  };
  const std::vector<Case> errors{
      {"GET", "/api/v1/stations", "", "", 401},
      {"GET", "/api/v1/stations", "wrong-secret-0123456789", "", 401},
      {"POST", "/api/v1/prices", kViewToken, withPrice("1.50"), 403},
      {"POST", "/api/v1/prices", kAdminToken, withPrice("100.00"), 400},
      {"POST", "/api/v1/prices", kAdminToken, withPrice("1.505"), 400},
      {"POST", "/api/v1/prices", kAdminToken, "{\"stations\":", 400},
      {"GET", "/api/v1/fills?bogus=1", kViewToken, "", 400},
      {"GET", "/api/v1/fills?from=2026-12-07T10:00:00", kViewToken, "", 400},
      {"GET", "/api/v1/fills?limit=1001", kViewToken, "", 400},
      {"GET", "/api/v1/totals/days?from=2026-12-07", kViewToken, "", 400},
      {"DELETE", "/api/v1/stations", kViewToken, "", 405},
      {"GET", "/api/v1/nothing", kViewToken, "", 404},
      {"GET", "/api/v1/prices/unknown", kViewToken, "", 404},
  };
  for (const auto& each : errors) {
    SCOPED_TRACE(each.method + " " + each.path + " " + each.body);
    const auto headers = each.token.empty() ? httplib::Headers{} : Bearer(each.token);
    const auto answer = each.method == "GET" ? client.Get(each.path, headers)
                        : each.method == "POST"
                            ? client.Post(each.path, headers, each.body, "application/json")
                            : client.Delete(each.path, headers);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, each.status);
    EXPECT_EQ(answer->get_header_value("Content-Type"), "application/problem+json");
    EXPECT_EQ(json::parse(answer->body)["status"], each.status);
  }
}

TEST_F(FleetTest, BrokerStoppedThenKilledAndRestartedLosesNoFill) {
  HeadOffice office(broker_, postgres_);
  TestStation first("station-1", broker_);
  TestStation second("station-2", broker_);
  first.Start();
  second.Start();
  ASSERT_TRUE(
      WaitFor([&] { return first.Publisher().Connected() && second.Publisher().Connected(); }));

  constexpr int kPerPhase = 50;
  int next = 1;
  const auto addFills = [&] {
    for (int i = 0; i < kPerPhase; ++i, ++next) {
      first.AddFill(next, 1, Fill(next, 1, 1, 2, 3));
      second.AddFill(next, 1, Fill(next, 1, 2, 2, 3));
    }
  };
  addFills();  // some of these are on the wire when the broker stops
  broker_.Pause();
  addFills();
  // Keep-alive finds the silent broker.
  ASSERT_TRUE(WaitFor(
      [&] { return !first.Publisher().Connected() && !second.Publisher().Connected(); }, kLong));
  addFills();
  broker_.Kill();
  addFills();
  broker_.Start();
  addFills();

  ASSERT_TRUE(
      WaitFor([&] { return first.Unconfirmed() == 0 && second.Unconfirmed() == 0; }, kLong));
  const int fills = next - 1;
  ExpectJournalEquals(postgres_, "station-1", fills, fills * 3.0);
  ExpectJournalEquals(postgres_, "station-2", fills, fills * 3.0);
}

TEST_F(FleetTest, HeadOfficeKilledMidIngestLosesAndRepeatsNothing) {
  auto office = std::make_unique<HeadOffice>(broker_, postgres_);
  TestStation station("station-1", broker_);
  station.Start();
  constexpr int kRounds = 20;
  constexpr int kPerRound = 50;
  int next = 1;
  for (int round = 0; round < kRounds; ++round) {
    const auto before = FillRows(postgres_, "station-1");
    for (int i = 0; i < kPerRound; ++i, ++next) station.AddFill(next, 1, Fill(next, 1, 1, 1, 2));
    // Killed once it is ingesting this round, whatever it is doing then.
    ASSERT_TRUE(WaitFor([&] { return FillRows(postgres_, "station-1") > before; }, kLong));
    office->Kill();
    office->Start();
  }
  ASSERT_TRUE(WaitFor([&] { return station.Unconfirmed() == 0; }, kLong));
  ExpectJournalEquals(postgres_, "station-1", next - 1, (next - 1) * 2.0);
}

TEST_F(FleetTest, PostgresRestartedLosesAndRepeatsNothing) {
  HeadOffice office(broker_, postgres_);
  TestStation station("station-1", broker_);
  station.Start();
  int next = 1;
  const auto addFills = [&](int count) {
    for (int i = 0; i < count; ++i, ++next) station.AddFill(next, 1, Fill(next, 1, 1, 1, 2));
  };
  addFills(100);
  ASSERT_TRUE(WaitFor([&] { return FillRows(postgres_, "station-1") > 0; }, kLong));
  postgres_.Stop();  // with records on their way
  addFills(50);
  postgres_.Start();
  addFills(50);
  ASSERT_TRUE(WaitFor([&] { return station.Unconfirmed() == 0; }, kLong));
  ExpectJournalEquals(postgres_, "station-1", next - 1, (next - 1) * 2.0);
}

TEST_F(FleetTest, StationKilledWhilePublishingLosesAndRepeatsNothing) {
  HeadOffice office(broker_, postgres_);
  TempDir dir;
  { std::ofstream(dir.File("password")) << ExamplePassword("station-1") << "\n"; }
  const auto start = [&] {
    // A fill every 20 ms, each committed with its outbox row.
    return std::make_unique<Process>(
        std::vector<std::string>{QUORLAN_DEMO_STATION_PATH, broker_.Url(), "station-1",
                                 dir.File("password"), dir.File("station.db"), "0"},
        dir.File("station.log"));
  };
  auto station = start();
  constexpr int kRounds = 50;
  for (int round = 0; round < kRounds; ++round) {
    const auto before = FillRows(postgres_, "station-1");
    ASSERT_TRUE(WaitFor([&] { return FillRows(postgres_, "station-1") > before; }, kLong));
    station->Signal(SIGKILL);
    station->Wait();
    station = start();
  }
  station->Signal(SIGTERM);
  station->Wait();

  // What the last run left unconfirmed goes out with a publisher of our own.
  station::sql::Database database(dir.File("station.db"));
  fleet::StationSql sql(database);
  fleet::PublisherOptions options;
  options.stationId = "station-1";
  options.mqtt = {.url = broker_.Url(),
                  .user = "station-1",
                  .password = ExamplePassword("station-1"),
                  .keepAliveSeconds = 5};
  options.resendAfter = std::chrono::seconds(2);
  fleet::Publisher publisher(options, sql, nullptr);
  publisher.Start();
  ASSERT_TRUE(WaitFor([&] { return fleet::Outbox::Unconfirmed(sql) == 0; }, kLong));
  publisher.Stop();

  std::int64_t fills = 0;
  double amount = 0;
  sql.Query(
      "SELECT count(*), total(json_extract(data, '$.amount')) FROM fleet_outbox "
      "WHERE kind = 'fill'",
      {}, [&](const fleet::SqlRow& row) {
        fills = row.Integer(0);
        amount = std::stod(row.Text(1));
      });
  ASSERT_GT(fills, 0);
  ExpectJournalEquals(postgres_, "station-1", static_cast<int>(fills), amount);
}

// One client of the broker as `user` with the shipped example password.
class Client {
 public:
  explicit Client(const Broker& broker, const std::string& user)
      : client_(fleet::MqttOptions{.url = broker.Url(),
                                   .user = user,
                                   .password = ExamplePassword(user),
                                   .clientId = "acl-test-" + user,
                                   .sessionExpirySeconds = 0}) {
    client_.OnAcknowledged([this](int id, int reason) {
      const std::lock_guard lock(mutex_);
      reasons_[id] = reason;
    });
    EXPECT_TRUE(Poll([&] { return client_.Connected(); }));
  }

  // The broker's reason code for one QoS 1 message.
  int Publish(const std::string& topic, const std::string& payload = R"({"schema":1})") {
    const auto id = client_.Publish(topic, payload, 1, false);
    EXPECT_TRUE(id);
    if (!id) return -1;
    EXPECT_TRUE(Poll([&] {
      const std::lock_guard lock(mutex_);
      return reasons_.contains(*id);
    }));
    const std::lock_guard lock(mutex_);
    return reasons_[*id];
  }

 private:
  bool Poll(const std::function<bool()>& condition) {
    return WaitFor([&] {
      client_.Poll(std::chrono::milliseconds(20));
      return condition();
    });
  }
  fleet::MqttClient client_;
  std::mutex mutex_;
  std::map<int, int> reasons_;
};

TEST_F(FleetTest, ShippedAclKeepsEachStationUnderItsOwnIdAndCommandsToHeadOffice) {
  // Taken: success, or "no matching subscribers" (16), both below 0x80.
  constexpr int kAccepted = 0;
  constexpr int kNotAuthorized = 135;
  struct Case {
    std::string user, topic;
    int reason;
  };
  const std::vector<Case> cases{
      {"station-1", fleet::RecordTopic("station-1", fleet::Kind::Fill), kAccepted},
      {"station-1", fleet::RecordTopic("station-2", fleet::Kind::Fill), kNotAuthorized},
      {"station-1", fleet::PresenceTopic("station-2"), kNotAuthorized},
      {"station-1", fleet::PriceCommandTopic("station-1"), kNotAuthorized},
      {"station-1", fleet::PriceCommandTopic("station-2"), kNotAuthorized},
      {"station-1", fleet::ReceiptTopic("station-1"), kNotAuthorized},
      {"station-2", fleet::LiveTopic("station-2", 1, 1), kAccepted},
      {"hq", fleet::PriceCommandTopic("station-1"), kAccepted},
      {"hq", fleet::ReceiptTopic("station-2"), kAccepted},
      {"hq", fleet::RecordTopic("station-1", fleet::Kind::Fill), kNotAuthorized},
  };
  std::map<std::string, std::unique_ptr<Client>> clients;
  for (const auto& each : cases) {
    SCOPED_TRACE(each.user + " -> " + each.topic);
    auto& client = clients[each.user];
    if (!client) client = std::make_unique<Client>(broker_, each.user);
    const int reason = client->Publish(each.topic);
    EXPECT_EQ(reason < fleet::kFirstRefusalReason ? kAccepted : reason, each.reason);
  }
}

TEST_F(FleetTest, HeadOfficeDropsUnreadableRecordsAndKeepsIngesting) {
  HeadOffice office(broker_, postgres_);
  Client forger(broker_, "station-1");
  const auto envelope = [](json changes) {
    json record{{"schema", 1},
                {"station", "station-1"},
                {"seq", 1},
                {"kind", "fill"},
                {"id", "1"},
                {"version", 1},
                {"at", "2026-12-07T09:00:00Z"},
                {"data", Fill(1, 1, 1, 1, 1)}};
    record.merge_patch(changes);
    return record.dump();
  };
  const std::vector<std::string> garbage{
      "not json",
      "[]",
      "\xff\xfe",
      envelope({{"schema", 2}}),
      envelope({{"station", "station-2"}}),  // another station's name on our topic
      envelope({{"kind", "shift"}}),         // another kind than the topic's
      envelope({{"id", std::string(65, '1')}}),
      envelope({{"version", "1"}}),
      envelope({{"data", "a fill"}}),
      envelope({{"seq", nullptr}}),
  };
  for (const auto& payload : garbage) {
    EXPECT_LT(forger.Publish(fleet::RecordTopic("station-1", fleet::Kind::Fill), payload),
              fleet::kFirstRefusalReason);
  }
  // Behind the garbage on the same topic: when this one is in, all were seen.
  // A record PostgreSQL refuses is set aside, not retried forever in front
  // of the next one.
  TestStation station("station-1", broker_);
  auto refused = Fill(6, 1, 1, 1, 1);
  refused["volume"] = "lots";
  station.AddFill(6, 1, refused);
  station.AddFill(7, 1, Fill(7, 1, 1, 1, 1));
  station.Start();
  ASSERT_TRUE(WaitFor([&] { return station.Unconfirmed() == 0; }, kLong));
  EXPECT_EQ(FillRows(postgres_, "station-1"), 1);
  EXPECT_EQ(postgres_.Scalar("SELECT fill_id FROM fills"), "7");
  EXPECT_EQ(postgres_.Scalar("SELECT record_id FROM rejected_records"), "6");
}

TEST_F(FleetTest, PricePushReachesAnOfflineStationOnceAndItsOutcomeComesBack) {
  HeadOffice office(broker_, postgres_);
  std::mutex mutex;
  std::vector<json> applied;
  TestStation station("station-1", broker_, [&](const json& prices) {
    const std::lock_guard lock(mutex);
    applied.push_back(prices);
    return json::array({{{"channel", 1}, {"dispenser", 1}, {"result", "downloaded"}}});
  });
  const auto appliedCount = [&] {
    const std::lock_guard lock(mutex);
    return applied.size();
  };
  // Known to the broker (its session stays), then offline.
  station.Start();
  ASSERT_TRUE(WaitFor([&] { return station.Publisher().Connected(); }));
  httplib::Client client("127.0.0.1", office.Port());
  ASSERT_TRUE(WaitFor([&] {
    const auto health = client.Get("/api/v1/health");
    return health && health->status == 200;
  }));
  station.Stop();

  const auto push = [&](const std::string& id, const std::string& price) {
    const auto answer = client.Post(
        "/api/v1/prices", Bearer(kAdminToken),
        R"({"command_id":")" + id +
            R"(","stations":["station-1"],"prices":[{"channel":1,"dispenser":1,"grade":1,"price":)" +
            price + "}]}",
        "application/json");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 202) << answer->body;
  };
  push("push-1", "1.50");
  push("push-1", "1.50");  // a retry by the office
  station.Start();
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto outcome = client.Get("/api/v1/prices/push-1", Bearer(kViewToken));
        return outcome && outcome->status == 200 &&
               json::parse(outcome->body)["outcomes"].contains("station-1");
      },
      kLong));
  const auto outcome = json::parse(client.Get("/api/v1/prices/push-1", Bearer(kViewToken))->body);
  EXPECT_EQ(outcome["outcomes"]["station-1"]["status"], "applied");
  EXPECT_EQ(outcome["outcomes"]["station-1"]["dispensers"][0]["result"], "downloaded");

  // Once more while online, then another command behind it on the same topic:
  // when that one is applied, the repeat has been seen.
  push("push-1", "1.50");
  push("push-2", "1.60");
  ASSERT_TRUE(WaitFor([&] { return appliedCount() >= 2; }, kLong));
  EXPECT_TRUE(WaitFor([&] { return station.Unconfirmed() == 0; }, kLong));
  const std::lock_guard lock(mutex);
  ASSERT_EQ(applied.size(), 2u);
  EXPECT_DOUBLE_EQ(applied[0][0]["price"].get<double>(), 1.50);
  EXPECT_DOUBLE_EQ(applied[1][0]["price"].get<double>(), 1.60);
  EXPECT_EQ(Count(postgres_, "SELECT count(*) FROM price_outcomes WHERE command_id = 'push-1'"), 1);
}

}  // namespace
}  // namespace quorlan::fleet_test
