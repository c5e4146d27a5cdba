// SPDX-License-Identifier: Apache-2.0
// Shift closes against the simulated pumps' own totals: ordinary fills
// balance to zero; fuel that left a nozzle without a sale is a difference
// with its alarm.

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "ServiceFixture.h"

namespace quorlan::testing {
namespace {

using nlohmann::json;

constexpr std::string_view kTable =
    R"([{"channel":1,"dispenser":1,"grade":1,"price":52.90},
        {"channel":1,"dispenser":1,"grade":2,"price":54.90},
        {"channel":1,"dispenser":1,"grade":3,"price":58.90},
        {"channel":1,"dispenser":1,"grade":4,"price":61.90}])";

json Zero() {
  return {{"volume", 0.0}, {"amount", 0.0}};
}

TEST(StationShift, BalancesOrdinaryFillsAndShowsFuelWithoutASale) {
  ServiceFixture station({.dispensers = 2, .flowRate = 4, .autoNozzle = true});
  station.Configure({"currency = \"EUR\"\ntimezone = \"Asia/Kathmandu\"\n", "nozzles = [1, 2]\n",
                     "[[grade]]\nnumber = 1\nname = \"Diesel\"\n"});
  station.StartService();
  ASSERT_EQ(station.Call("PUT", "/api/v1/prices", kAdminSecret, std::string(kTable)).status, 200);
  const auto idle = [](const json& d) { return d["state"] == "idle" && d["fill_id"].is_null(); };
  station.WaitFor("/api/v1/dispensers/1/1", idle);

  // Ordinary sales: the journal and the pumps agree.
  for (const char* volume : {"2.00", "1.50"}) {
    const Reply sale = station.Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret,
                                    std::string(R"({"grade":1,"volume":)") + volume + "}");
    ASSERT_EQ(sale.status, 200) << sale.text;
    station.WaitFor("/api/v1/fills/" + sale.body["fill_id"].dump(),
                    [](const json& fill) { return !fill["finished_at"].is_null(); });
    station.WaitFor("/api/v1/dispensers/1/1", idle);
  }
  const Reply closed = station.Call("POST", "/api/v1/shifts/close", kOperateSecret);
  ASSERT_EQ(closed.status, 200) << closed.text;
  const json& report = closed.body;
  EXPECT_EQ(report["closed_by"], "pos-1");
  EXPECT_EQ(report["currency"], "EUR");
  // Times in the station's zone, to the second: "2026-12-07T22:10:00+05:45".
  for (const char* field : {"opened_at", "closed_at"}) {
    const std::string text = report[field].get<std::string>();
    EXPECT_EQ(text.size(), 25U) << text;
    EXPECT_EQ(text.substr(19), "+05:45") << text;
  }
  EXPECT_EQ(report["fills"], json({{"count", 2}, {"volume", 3.5}, {"amount", 185.15}}));
  ASSERT_EQ(report["by_grade"].size(), 1U);
  EXPECT_EQ(report["by_grade"][0]["name"], "Diesel");
  EXPECT_EQ(report["by_dispenser"][0]["count"], 2);
  EXPECT_EQ(report["unpaid"], json({{"count", 2}, {"amount", 185.15}}));
  EXPECT_EQ(report["cancelled"], 0);
  EXPECT_EQ(report["unanswered"], json::array());
  ASSERT_EQ(report["nozzles"].size(), 4U);  // 2 dispensers x nozzles 1, 2
  for (const json& nozzle : report["nozzles"]) EXPECT_EQ(nozzle["difference"], Zero()) << nozzle;
  EXPECT_EQ(report["nozzles"][0]["journal"], json({{"volume", 3.5}, {"amount", 185.15}}));
  EXPECT_EQ(station.Get("/api/v1/shifts/" + report["id"].dump()).body, report);

  // Three litres leave nozzle 2 of dispenser 2 with nobody's sale.
  std::mutex mutex;
  std::string events;
  std::thread reader([&] {
    station.ReadEvents("", [&](const std::string& text) {
      std::lock_guard lock(mutex);
      events = text;
      // The alarm follows the shift's event: both are waited for.
      const auto shift = text.find("event: shift");
      const auto alarm = text.find(R"("kind":"discrepancy")");
      return shift != std::string::npos && text.find("\n\n", shift) != std::string::npos &&
             alarm != std::string::npos && text.find("\n\n", alarm) != std::string::npos;
    });
  });
  ServiceFixture::WaitUntil([&] {
    std::lock_guard lock(mutex);
    return events.find("event: dispenser") != std::string::npos;
  });
  auto totals = station.Line().Snapshot(2).totals[1];
  totals.volume += 300;
  totals.amount += 16470;
  station.Line().SetTotals(2, 2, totals);
  const Reply next = station.Call("POST", "/api/v1/shifts/close", kOperateSecret);
  ASSERT_EQ(next.status, 200) << next.text;
  reader.join();
  EXPECT_EQ(next.body["fills"]["count"], 0);
  EXPECT_EQ(next.body["opened_at"], report["closed_at"]);
  const json& moved = next.body["nozzles"][3];
  EXPECT_EQ(moved["dispenser"], 2);
  EXPECT_EQ(moved["nozzle"], 2);
  EXPECT_EQ(moved["difference"], json({{"volume", 3.0}, {"amount", 164.7}}));
  EXPECT_NE(events.find(R"("kind":"discrepancy")"), std::string::npos) << events;
  EXPECT_NE(events.find("event: shift"), std::string::npos) << events;

  // The report as a spreadsheet reads it.
  const Reply csv = station.Call("GET", "/api/v1/shifts/" + next.body["id"].dump(), kViewSecret, "",
                                 {{"Accept", "text/csv"}});
  EXPECT_EQ(csv.status, 200);
  EXPECT_EQ(csv.contentType.rfind("text/csv", 0), 0U) << csv.contentType;
  EXPECT_EQ(csv.text.rfind("id,opened_at,closed_at,closed_by,currency,channel,", 0), 0U);
  EXPECT_NE(csv.text.find(",1,2,2,2,"), std::string::npos) << csv.text;
  EXPECT_NE(csv.text.find("," + next.body["closed_at"].get<std::string>() + ",pos-1,EUR,"),
            std::string::npos)
      << csv.text;
  EXPECT_NE(csv.text.find(",3.00,164.70\r\n"), std::string::npos) << csv.text;
  EXPECT_EQ(std::count(csv.text.begin(), csv.text.end(), '\n'), 5);

  // Closed shifts are listed, and a kill loses none of them.
  station.KillService();
  station.StartService();
  const json shifts = station.Get("/api/v1/shifts").body;
  ASSERT_EQ(shifts.size(), 2U);
  EXPECT_EQ(shifts[1], next.body);
  EXPECT_EQ(station.StopService(), 0);
}

}  // namespace
}  // namespace quorlan::testing
