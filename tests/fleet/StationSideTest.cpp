// SPDX-License-Identifier: Apache-2.0
// The station's side without a broker: the journal's changes into the
// outbox in their own transactions, price pushes as they may arrive
// (garbage, repeats, refusals) and the [fleet] configuration's errors.

#include <gtest/gtest.h>

#include <filesystem>

#include "CommandReceiver.h"
#include "FleetConfig.h"
#include "FleetHarness.h"
#include "Outbox.h"
#include "Topics.h"
#include "station/journal/Store.h"
#include "station/uplink/FleetOutbox.h"

namespace quorlan::fleet_test {
namespace {

using Result = fleet::CommandReceiver::Result;

// (kind, record id, version, status) of every outbox row, in order.
std::vector<std::tuple<std::string, std::string, std::int64_t, std::string>> OutboxRows(
    const std::string& path) {
  station::sql::Database database(path);
  auto query =
      database.Prepare("SELECT kind, record_id, version, data FROM fleet_outbox ORDER BY seq");
  std::vector<std::tuple<std::string, std::string, std::int64_t, std::string>> rows;
  while (query.Step()) {
    rows.emplace_back(query.Text(0), query.Text(1), query.Integer(2),
                      json::parse(query.Text(3)).value("status", ""));
  }
  return rows;
}

// Fails the change it is handed, as a full disk would.
class FailingFeed : public station::FleetOutbox {
 public:
  void Fill(station::sql::Database&, const station::FillRecord&) override {
    throw station::sql::Error("disk full");
  }
};

TEST(JournalFeedTest, EachFillChangeGetsItsOutboxRowInTheSameTransaction) {
  TempDir dir;
  const std::string path = dir.File("station.db");
  station::Store store(path);
  station::FleetOutbox outbox;
  store.database.SetFeed(&outbox);

  station::FillRecord fill;
  fill.channel = 1;
  fill.dispenser = 2;
  fill.nozzle = 1;
  fill.grade = 1;
  fill.price = 150;
  fill.id = store.fills.Insert(fill);  // pending: may still go, so not sent
  EXPECT_TRUE(OutboxRows(path).empty());
  store.fills.Acknowledge(fill.id, "2026-12-07T09:00:00.000Z");
  fill.status = station::FillStatus::Done;
  fill.volume = 1000;
  fill.amount = 1500;
  fill.finishedAt = "2026-12-07T09:01:00.000Z";
  ASSERT_TRUE(store.fills.End(fill, {1, "fill", "{}"}));
  fill.settlement.paid = true;
  fill.settlement.paidBy = "pos-1";
  store.settlement.Write(fill, {2, "fill", "{}"});
  const auto id = std::to_string(fill.id);
  auto rows = OutboxRows(path);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0],
            std::make_tuple(std::string("fill"), id, std::int64_t{1}, std::string("authorized")));
  EXPECT_EQ(rows[1],
            std::make_tuple(std::string("fill"), id, std::int64_t{2}, std::string("completed")));
  EXPECT_EQ(rows[2],
            std::make_tuple(std::string("fill"), id, std::int64_t{3}, std::string("completed")));

  // A feed that fails takes the change down with it: no half-stored fill.
  FailingFeed failing;
  store.database.SetFeed(&failing);
  station::FillRecord other = fill;
  other.status = station::FillStatus::Open;
  other.settlement = {};
  EXPECT_THROW(store.fills.Insert(other), station::sql::Error);
  station::FillQuery every;
  every.status = station::FillStatusFilter::All;
  EXPECT_EQ(store.fills.Find(every).size(), 1u);
  store.database.SetFeed(nullptr);
  other.id = store.fills.Insert(other);
  EXPECT_EQ(OutboxRows(path).size(), 3u);  // no feed, no row

  // Versions keep growing after confirmed rows are pruned.
  store.database.SetFeed(&outbox);
  {
    station::sql::Database database(path);
    database.Execute("UPDATE fleet_outbox SET confirmed_ms = 1; DELETE FROM fleet_outbox");
  }
  other.status = station::FillStatus::Cancelled;
  ASSERT_TRUE(store.fills.End(other, {3, "fill", "{}"}));
  rows = OutboxRows(path);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(std::get<2>(rows[0]), 4);
  EXPECT_EQ(std::get<3>(rows[0]), "cancelled");
}

TEST(CommandReceiverTest, AppliesEachCommandIdOnceAndAnswersThroughTheOutbox) {
  TempDir dir;
  station::sql::Database database(dir.File("station.db"));
  fleet::StationSql sql(database);
  sql.Execute(fleet::Outbox::Schema());
  std::map<std::string, int> applied;
  fleet::CommandReceiver receiver(sql, [&](const json& prices) {
    const auto price = prices.at(0).at("price").get<double>();
    ++applied[std::to_string(price)];
    if (price > 50) throw std::invalid_argument("dispenser 1/1 is unknown");
    return json::array({{{"channel", 1}, {"dispenser", 1}, {"result", "deferred"}}});
  });
  const auto command = [](const std::string& id, double price) {
    return json{{"schema", 1},
                {"command_id", id},
                {"prices", {{{"channel", 1}, {"dispenser", 1}, {"grade", 1}, {"price", price}}}}}
        .dump();
  };
  struct Case {
    std::string payload;
    Result result;
    std::string status;  // of the outcome in the outbox; empty: nothing recorded
  };
  const std::vector<Case> cases{
      {"not json", Result::Unreadable, ""},
      {"[]", Result::Unreadable, ""},
      {R"({"schema":1,"prices":[]})", Result::Unreadable, ""},
      {R"({"schema":1,"command_id":"with space","prices":[]})", Result::Unreadable, ""},
      {json{{"schema", 1}, {"command_id", std::string(65, 'x')}}.dump(), Result::Unreadable, ""},
      {R"({"schema":2,"command_id":"newer","prices":[]})", Result::Refused, "refused"},
      {R"({"schema":1,"command_id":"no-list","prices":{}})", Result::Refused, "refused"},
      {command("too-dear", 60), Result::Refused, "refused"},
      {command("too-dear", 60), Result::Repeated, ""},
      {command("push-1", 1.5), Result::Applied, "applied"},
      {command("push-1", 1.5), Result::Repeated, ""},
      {command("push-1", 1.7), Result::Repeated, ""},  // the id decides, not the body
  };
  std::int64_t seq = 0;
  for (const auto& each : cases) {
    SCOPED_TRACE(each.payload);
    EXPECT_EQ(receiver.Receive(each.payload), each.result);
    const auto due = fleet::Outbox::Due(sql, seq, 0, 10);
    if (each.status.empty()) {
      EXPECT_TRUE(due.empty());
      continue;
    }
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].kind, fleet::Kind::PriceOutcome);
    EXPECT_EQ(json::parse(due[0].data)["status"], each.status);
    seq = due[0].seq;
  }
  EXPECT_EQ(applied,
            (std::map<std::string, int>{{std::to_string(60.0), 1}, {std::to_string(1.5), 1}}));
  const auto refused = fleet::Outbox::Due(sql, 0, 0, 10);
  EXPECT_EQ(json::parse(refused[2].data)["detail"], "dispenser 1/1 is unknown");
}

TEST(FleetConfigTest, EveryMistakeIsNamedWithItsLine) {
  struct Case {
    std::string toml;
    std::string error;  // empty: accepted
  };
  const std::vector<Case> cases{
      {"[fleet]\nbroker = \"mqtt://127.0.0.1:1883\"\nstation_id = \"station-1\"\n", ""},
      {"[fleet]\nbroker = \"mqtts://hq:8883\"\nca_file = \"/ca\"\nstation_id = \"s\"\n", ""},
      {"[fleet]\nstation_id = \"station-1\"\n", "fleet.broker is required"},
      {"[fleet]\nbroker = \"http://hq\"\nstation_id = \"s\"\n", "line 2: broker URL must start"},
      {"[fleet]\nbroker = \"mqtt://hq:99999\"\nstation_id = \"s\"\n", "line 2: bad port"},
      {"[fleet]\nbroker = \"mqtt://hq\"\nstation_id = \"a/b\"\n", "line 3: fleet.station_id"},
      {"[fleet]\nbroker = \"mqtt://hq\"\nstation_id = \"+\"\n", "line 3: fleet.station_id"},
      {"[fleet]\nbroker = \"mqtt://hq\"\nstation_id = \"s\"\nca_file = \"/ca\"\n",
       "line 4: fleet.ca_file needs an mqtts://"},
      {"[fleet]\nbroker = \"mqtt://hq\"\nstation_id = \"s\"\nresend_after = 0\n",
       "line 4: fleet.resend_after"},
      {"[fleet]\nbroker = \"mqtt://hq\"\nstation_id = 7\n", "line 3: fleet.station_id must be"},
      {"[fleet]\nbroker = \"mqtt://hq\"\nstation_id = \"s\"\nqos = 2\n",
       "line 4: unknown key fleet.qos"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.toml);
    const auto table = toml::parse(each.toml);
    if (each.error.empty()) {
      EXPECT_TRUE(fleet::ReadFleetConfig(table));
      continue;
    }
    try {
      fleet::ReadFleetConfig(table);
      ADD_FAILURE() << "accepted";
    } catch (const fleet::FleetConfigError& error) {
      EXPECT_NE(std::string(error.what()).find(each.error), std::string::npos) << error.what();
    }
  }
  EXPECT_FALSE(fleet::ReadFleetConfig(toml::parse("currency = \"EUR\"\n"))) << "no [fleet]: none";
}

TEST(TopicsTest, OnlyTopicsOfTheNamespaceWithAValidStationAreRead) {
  struct Case {
    std::string topic;
    bool valid;
  };
  const std::vector<Case> cases{
      {"quorlan/v1/station-1/fill", true}, {"quorlan/v1/station-1/live/1/2", true},
      {"quorlan/v1/station-1", false},     {"quorlan/v1//fill", false},
      {"quorlan/v1/+/fill", false},        {"quorlan/v2/station-1/fill", false},
      {"other/v1/station-1/fill", false},
  };
  for (const auto& each : cases) {
    EXPECT_EQ(fleet::ParseTopic(each.topic).has_value(), each.valid) << each.topic;
  }
}

}  // namespace
}  // namespace quorlan::fleet_test
