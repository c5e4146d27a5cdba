// SPDX-License-Identifier: Apache-2.0
// A point of sale's whole job through the API: authorize, a lost answer
// retried with its key, lock and clear among two tills, prepay cancelled and
// delivered with its refund, the unpaid stack;
// then every error of the settlement, query and idempotency routes.

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <thread>

#include "ServiceFixture.h"

namespace quorlan::testing {
namespace {

using nlohmann::json;

const std::string kSecondTill = "pos-2-secret-0123456789";

constexpr std::string_view kTable =
    R"([{"channel":1,"dispenser":1,"grade":1,"price":52.90},
        {"channel":1,"dispenser":1,"grade":2,"price":54.90},
        {"channel":1,"dispenser":1,"grade":3,"price":58.90},
        {"channel":1,"dispenser":1,"grade":4,"price":61.90}])";

ExtraConfig TwoTills() {
  return {"unpaid_limit = 2\ncurrency = \"EUR\"\ntimezone = \"America/New_York\"\n", "",
          "[[token]]\nname = \"pos-2\"\nrole = \"operate\"\nsecret = \"" + kSecondTill +
              "\"\n[[grade]]\nnumber = 2\nname = \"Super 95\"\n"
              "[[grade]]\nnumber = 1\nname = \"Diesel\"\n"};
}

std::int64_t Hundredths(const json& money) {
  return std::llround(money.get<double>() * 100);
}

std::function<bool(const json&)> Idle() {
  return [](const json& dispenser) {
    return dispenser["state"] == "idle" && dispenser["fill_id"].is_null();
  };
}

class Till {
 public:
  explicit Till(ServiceFixture& station) : station_(station) {}

  Reply Authorize(const std::string& body, const std::string& key = "") {
    httplib::Headers headers;
    if (!key.empty()) headers.emplace("Idempotency-Key", key);
    return station_.Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret, body, headers);
  }
  // One postpay sale of `volume` litres on dispenser 1, until it is journaled.
  std::int64_t Sell(const std::string& volume) {
    const Reply reply = Authorize(R"({"grade":1,"volume":)" + volume + "}");
    EXPECT_EQ(reply.status, 200) << reply.text;
    const std::int64_t id = reply.body["fill_id"].get<std::int64_t>();
    station_.WaitFor("/api/v1/fills/" + std::to_string(id),
                     [](const json& fill) { return !fill["finished_at"].is_null(); });
    station_.WaitFor("/api/v1/dispensers/1/1", Idle());
    return id;
  }
  Reply Settle(std::int64_t fill, const std::string& action, const std::string& secret,
               const std::string& body = "") {
    return station_.Call("POST", "/api/v1/fills/" + std::to_string(fill) + "/" + action, secret,
                         body);
  }

 private:
  ServiceFixture& station_;
};

TEST(StationTill, SettlesEverySaleThroughTheApi) {
  ServiceFixture station({.dispensers = 2, .flowRate = 4, .autoNozzle = true});
  station.Configure(TwoTills());
  station.StartService();
  ASSERT_EQ(station.Call("PUT", "/api/v1/prices", kAdminSecret, std::string(kTable)).status, 200);
  station.WaitFor("/api/v1/dispensers/1/1", Idle());
  Till till(station);

  // Postpay; the answer is lost and the till asks again with its key.
  const std::string sale = R"({"grade":1,"volume":2.00})";
  const Reply first = till.Authorize(sale, "sale-1");
  ASSERT_EQ(first.status, 200) << first.text;
  const Reply retried = till.Authorize(sale, "sale-1");
  EXPECT_EQ(retried.status, 200);
  EXPECT_EQ(retried.text, first.text);
  EXPECT_EQ(till.Authorize(R"({"grade":2})", "sale-1").status, 422);
  const std::int64_t fill = first.body["fill_id"].get<std::int64_t>();
  station.WaitFor("/api/v1/fills?paid=false",
                  [&](const json& fills) { return fills.size() == 1 && fills[0]["id"] == fill; });
  station.WaitFor("/api/v1/dispensers/1/1", Idle());
  EXPECT_EQ(station.Get("/api/v1/dispensers/1/1").body["unpaid"], 1);
  EXPECT_EQ(station.Get("/api/v1/fills?status=all").body.size(), 1U);  // acted once

  // Lock and clear between two tills and the office.
  const Reply locked = till.Settle(fill, "lock", kOperateSecret);
  ASSERT_EQ(locked.status, 200) << locked.text;
  EXPECT_EQ(locked.body["locked_by"], "pos-1");
  EXPECT_TRUE(locked.body["locked_until"].is_string());
  EXPECT_EQ(till.Settle(fill, "lock", kSecondTill).status, 409);
  EXPECT_EQ(till.Settle(fill, "clear", kSecondTill).status, 409);
  EXPECT_EQ(till.Settle(fill, "unlock", kSecondTill).status, 409);
  const Reply released = till.Settle(fill, "unlock", kAdminSecret);
  EXPECT_EQ(released.status, 200);
  EXPECT_TRUE(released.body["locked_by"].is_null());
  ASSERT_EQ(till.Settle(fill, "lock", kOperateSecret).status, 200);
  const Reply paid = till.Settle(fill, "clear", kOperateSecret, R"({"reference":"R-1"})");
  ASSERT_EQ(paid.status, 200) << paid.text;
  EXPECT_EQ(paid.body["paid"], true);
  EXPECT_EQ(paid.body["paid_by"], "pos-1");
  EXPECT_EQ(paid.body["reference"], "R-1");
  EXPECT_TRUE(paid.body["paid_at"].is_string());
  EXPECT_TRUE(paid.body["locked_by"].is_null());
  EXPECT_EQ(till.Settle(fill, "clear", kOperateSecret, R"({"reference":"R-1"})").body, paid.body);
  EXPECT_EQ(till.Settle(fill, "clear", kSecondTill, R"({"reference":"R-2"})").status, 409);
  EXPECT_EQ(till.Settle(fill, "lock", kOperateSecret).status, 409);
  EXPECT_EQ(till.Settle(fill, "unlock", kOperateSecret).status, 200);  // not locked: no change
  EXPECT_EQ(station.Get("/api/v1/fills?paid=false").body, json::array());
  EXPECT_EQ(station.Get("/api/v1/fills/" + std::to_string(fill)).body, paid.body);

  // Prepay stopped before the nozzle lifts: kept as cancelled, the whole
  // limit refunded, nothing left to settle.
  station.Line().SetAutoNozzle(false);
  const Reply prepaid = till.Authorize(R"({"grade":1,"amount":20.00})");
  ASSERT_EQ(prepaid.status, 200) << prepaid.text;
  const std::string cancelled = "/api/v1/fills/" + prepaid.body["fill_id"].dump();
  ASSERT_EQ(station.Call("POST", "/api/v1/dispensers/1/1/stop", kOperateSecret, "").status, 200);
  station.WaitFor(cancelled, [](const json& sale) { return sale["status"] == "cancelled"; });
  station.WaitFor("/api/v1/dispensers/1/1", Idle());
  EXPECT_EQ(Hundredths(station.Get(cancelled).body["refund"]), 2000);
  EXPECT_EQ(station.Get("/api/v1/fills?status=cancelled").body.size(), 1U);
  EXPECT_EQ(station.Get("/api/v1/dispensers/1/1").body["unpaid"], 0);
  EXPECT_EQ(till.Settle(prepaid.body["fill_id"].get<std::int64_t>(), "lock", kOperateSecret).status,
            409);

  // Prepay delivered: its refund is the limit less what the pump charged,
  // and the till settles it like any sale.
  station.Line().SetAutoNozzle(true);
  const Reply delivered = till.Authorize(R"({"grade":1,"amount":5.00})");
  ASSERT_EQ(delivered.status, 200) << delivered.text;
  const std::int64_t prepay = delivered.body["fill_id"].get<std::int64_t>();
  station.WaitFor("/api/v1/fills/" + std::to_string(prepay),
                  [](const json& sale) { return sale["status"] == "completed"; });
  station.WaitFor("/api/v1/dispensers/1/1", Idle());
  const json sold = station.Get("/api/v1/fills/" + std::to_string(prepay)).body;
  EXPECT_GT(Hundredths(sold["amount"]), 0);
  EXPECT_EQ(Hundredths(sold["refund"]), 500 - Hundredths(sold["amount"])) << sold.dump();
  ASSERT_EQ(till.Settle(prepay, "clear", kOperateSecret, R"({"reference":"R-P"})").status, 200);
  EXPECT_EQ(station.Get("/api/v1/dispensers/1/1").body["unpaid"], 0);

  // The stack: two unpaid fills refuse the next authorize, naming them.
  const std::int64_t second = till.Sell("1.00");
  const std::int64_t third = till.Sell("1.00");
  EXPECT_EQ(station.Get("/api/v1/dispensers/1/1").body["unpaid"], 2);
  const Reply refused = till.Authorize(sale);
  EXPECT_EQ(refused.status, 409);
  const std::string detail = refused.body["detail"];
  EXPECT_NE(detail.find(std::to_string(second)), std::string::npos) << detail;
  EXPECT_NE(detail.find(std::to_string(third)), std::string::npos) << detail;
  ASSERT_EQ(till.Settle(second, "clear", kSecondTill).status, 200);
  EXPECT_EQ(till.Authorize(sale).status, 200);

  // Every settlement change was announced, and a client that missed it gets it again.
  const std::string replay = station.ReadEvents("0", [](const std::string& text) {
    return text.find("event: dispenser") != std::string::npos;
  });
  EXPECT_NE(replay.find(R"("locked_by":"pos-1")"), std::string::npos) << replay;
  EXPECT_NE(replay.find(R"("reference":"R-1")"), std::string::npos) << replay;

  // An acknowledged clear and an idempotent answer survive a kill.
  station.KillService();
  station.StartService();
  EXPECT_EQ(station.Get("/api/v1/fills/" + std::to_string(fill)).body["paid"], true);
  const Reply afterKill = till.Authorize(sale, "sale-1");
  EXPECT_EQ(afterKill.status, 200);
  EXPECT_EQ(afterKill.text, first.text);
  EXPECT_EQ(station.StopService(), 0);
}

TEST(StationTill, AnswersEveryErrorOfItsRoutes) {
  ServiceFixture station({.dispensers = 1, .flowRate = 4, .autoNozzle = true});
  station.Configure(TwoTills());
  station.StartService();
  ASSERT_EQ(station.Call("PUT", "/api/v1/prices", kAdminSecret, std::string(kTable)).status, 200);
  station.WaitFor("/api/v1/dispensers/1/1", Idle());
  Till till(station);
  const std::int64_t fill = till.Sell("1.00");
  const std::string path = "/api/v1/fills/" + std::to_string(fill);

  const struct {
    const char* what;
    const char* method;
    std::string path;
    std::string secret;
    std::string body;
    httplib::Headers headers;
    int status;
  } cases[] = {
      {"lock an unknown fill", "POST", "/api/v1/fills/999999/lock", kOperateSecret, "", {}, 404},
      {"clear an unknown fill", "POST", "/api/v1/fills/999999/clear", kOperateSecret, "", {}, 404},
      {"lock as a viewer", "POST", path + "/lock", kViewSecret, "", {}, 403},
      {"reference too long",
       "POST",
       path + "/clear",
       kOperateSecret,
       R"({"reference":")" + std::string(65, 'x') + "\"}",
       {},
       400},
      {"empty reference", "POST", path + "/clear", kOperateSecret, R"({"reference":""})", {}, 400},
      {"reference a number",
       "POST",
       path + "/clear",
       kOperateSecret,
       R"({"reference":7})",
       {},
       400},
      {"unknown field", "POST", path + "/clear", kOperateSecret, R"({"ref":"x"})", {}, 400},
      {"clear with a list", "POST", path + "/clear", kOperateSecret, "[]", {}, 400},
      {"unknown query parameter", "GET", "/api/v1/fills?dispensr=1", kViewSecret, "", {}, 400},
      {"time without offset",
       "GET",
       "/api/v1/fills?from=2026-12-07T10:00:00",
       kViewSecret,
       "",
       {},
       400},
      {"paid not a bool", "GET", "/api/v1/fills?paid=yes", kViewSecret, "", {}, 400},
      {"unknown status", "GET", "/api/v1/fills?status=done", kViewSecret, "", {}, 400},
      {"unknown shift", "GET", "/api/v1/shifts/999999", kViewSecret, "", {}, 404},
      {"shift page too long", "GET", "/api/v1/shifts?limit=1001", kViewSecret, "", {}, 400},
      {"close a shift as a viewer", "POST", "/api/v1/shifts/close", kViewSecret, "", {}, 403},
      {"key too long",
       "POST",
       path + "/lock",
       kOperateSecret,
       "",
       {{"Idempotency-Key", std::string(65, 'k')}},
       400},
      {"key with a space",
       "POST",
       path + "/lock",
       kOperateSecret,
       "",
       {{"Idempotency-Key", "a b"}},
       400},
      {"key sent empty",
       "POST",
       path + "/lock",
       kOperateSecret,
       "",
       {{"Idempotency-Key", ""}},
       400},
  };
  for (const auto& c : cases) {
    const Reply reply = station.Call(c.method, c.path, c.secret, c.body, c.headers);
    EXPECT_EQ(reply.status, c.status) << c.what << ": " << reply.text;
    EXPECT_EQ(reply.body["status"], c.status) << c.what;
    EXPECT_TRUE(reply.body["detail"].is_string()) << c.what;
  }
  // Nothing above settled the fill.
  const json after = station.Get(path).body;
  EXPECT_EQ(after["paid"], false);
  EXPECT_TRUE(after["locked_by"].is_null());
  // Who calls, and what the dashboard shows the station's figures by.
  const json stationFacts = {{"currency", "EUR"},
                             {"timezone", "America/New_York"},
                             {"grades", json::array({{{"number", 1}, {"name", "Diesel"}},
                                                     {{"number", 2}, {"name", "Super 95"}}})}};
  json viewer = stationFacts;
  viewer.update({{"name", "view"}, {"role", "view"}});
  json secondTill = stationFacts;
  secondTill.update({{"name", "pos-2"}, {"role", "operate"}});
  EXPECT_EQ(station.Get("/api/v1/session").body, viewer);
  EXPECT_EQ(station.Call("GET", "/api/v1/session", kSecondTill).body, secondTill);
  EXPECT_EQ(station.StopService(), 0);
}

}  // namespace
}  // namespace quorlan::testing

namespace quorlan::testing {
namespace {

TEST(StationTill, AFillLeftUnpaidRaisesADriveOffAlarm) {
  ServiceFixture station({.dispensers = 1, .flowRate = 4, .autoNozzle = true});
  station.Configure({"drive_off_after = \"1s\"\n", "", ""});
  station.StartService();
  ASSERT_EQ(station.Call("PUT", "/api/v1/prices", kAdminSecret, std::string(kTable)).status, 200);
  station.WaitFor("/api/v1/dispensers/1/1", Idle());
  // The stream is open before the sale: the alarm is a passing event.
  std::mutex mutex;
  std::string events;
  std::thread reader([&] {
    station.ReadEvents("", [&](const std::string& text) {
      std::lock_guard lock(mutex);
      events = text;
      const auto alarm = text.find(R"("kind":"drive-off")");
      return alarm != std::string::npos && text.find("\n\n", alarm) != std::string::npos;
    });
  });
  ServiceFixture::WaitUntil([&] {
    std::lock_guard lock(mutex);
    return events.find("event: dispenser") != std::string::npos;
  });
  const std::int64_t fill = Till(station).Sell("1.00");
  reader.join();
  EXPECT_NE(events.find(R"("fill_id":)" + std::to_string(fill)), std::string::npos) << events;
  // A station that names no currency, zone or grade: none, the system's zone, none.
  const json session = station.Get("/api/v1/session").body;
  EXPECT_TRUE(session["currency"].is_null()) << session;
  EXPECT_FALSE(session["timezone"].get<std::string>().empty()) << session;
  EXPECT_EQ(session["grades"], json::array()) << session;
  EXPECT_EQ(station.StopService(), 0);
}

}  // namespace
}  // namespace quorlan::testing
