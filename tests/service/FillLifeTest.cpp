// SPDX-License-Identifier: Apache-2.0
// The sale's whole life in the journal: its status from authorization to
// the end, a cancelled authorization kept with its refund, a fill whose
// dispenser lost its display settled from the nozzle's totals (or from the
// last figures seen, marked, with an alarm), and a fill finished while the
// service was down recovered with the nozzle that poured it.

#include <gtest/gtest.h>

#include "EventStream.h"
#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

const std::string kAuthorize = "/api/v1/dispensers/1/1/authorize";
const std::string kStop = "/api/v1/dispensers/1/1/stop";

struct Rig {
  explicit Rig(double flowRate) : lines(dir.Path(), 1, 1, flowRate) {
    service = std::make_unique<Service>(dir, config);
    pos = service->Client("operate");
    SeedPrices(*service->Client("admin"), 1, 1);
    if (!WaitFor([&] { return View(*pos, 1, 1)["state"] == "idle"; })) {
      throw std::runtime_error("the dispenser never came idle");
    }
  }
  std::int64_t Authorize(const std::string& body) {
    const auto answer = pos->Post(kAuthorize, body, "application/json");
    if (!answer || answer->status != 200) throw std::runtime_error("not authorized");
    return json::parse(answer->body)["fill_id"].get<std::int64_t>();
  }
  json WaitForStatus(std::int64_t id, const std::string& status) {
    json fill;
    WaitFor([&] { return (fill = FillOf(*pos, id))["status"] == status; });
    return fill;
  }
  sim::Line& Line() { return lines.Line(1); }

  TempFolder dir;
  SimLines lines;
  std::string config = WriteConfig(dir, &lines);
  std::unique_ptr<Service> service;
  std::unique_ptr<httplib::Client> pos;
};

TEST(FillLife, StatusFollowsTheSaleAndAPrepayKeepsItsRefund) {
  Rig rig(0.5);
  rig.Line().SetAutoNozzle(false);
  EventStream events(rig.service->Port(), SecretOf("view"));

  // A customer waiting at an idle dispenser.
  rig.Line().Lift(1, 3);
  EXPECT_TRUE(WaitFor([&] { return View(*rig.pos, 1, 1)["state"] == "calling"; }));
  rig.Line().Hang(1);
  ASSERT_TRUE(WaitFor([&] { return View(*rig.pos, 1, 1)["state"] == "idle"; }));

  // Prepaid, stopped before the nozzle lifts: kept, cancelled, all refunded.
  const std::int64_t cancelled = rig.Authorize(R"({"grade":1,"amount":20.00})");
  EXPECT_EQ(FillOf(*rig.pos, cancelled)["status"], "authorized");
  ASSERT_EQ(rig.pos->Post(kStop, "", "application/json")->status, 200);
  json fill = rig.WaitForStatus(cancelled, "cancelled");
  EXPECT_EQ(fill["status"], "cancelled") << fill.dump();
  EXPECT_EQ(Hundredths(fill["volume"]), 0);
  EXPECT_EQ(Hundredths(fill["refund"]), 2000);

  // Prepaid, stopped during the fill: the rest is refunded.
  ASSERT_TRUE(WaitFor([&] { return View(*rig.pos, 1, 1)["state"] == "idle"; }));
  const std::int64_t partial = rig.Authorize(R"({"grade":1,"amount":20.00})");
  rig.Line().Lift(1, 1);
  fill = rig.WaitForStatus(partial, "filling");
  EXPECT_EQ(fill["status"], "filling") << fill.dump();
  EXPECT_EQ(fill["nozzle"], 1);
  ASSERT_TRUE(WaitFor([&] { return Hundredths(View(*rig.pos, 1, 1)["volume"]) >= 10; }));
  ASSERT_EQ(rig.pos->Post(kStop, "", "application/json")->status, 200);
  ASSERT_TRUE(
      WaitFor([&] { return rig.Line().Snapshot(1).state == sim::DispenserState::Stopped; }));
  rig.Line().Hang(1);
  fill = rig.WaitForStatus(partial, "completed");
  const auto sales = rig.Line().Snapshot(1).sales;
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_EQ(Difference(fill, sales.front()), "");
  EXPECT_EQ(Hundredths(fill["refund"]), 2000 - sales.front().amount);

  // Both ends were announced, the cancelled one too.
  EXPECT_TRUE(WaitFor([&] { return events.FillEvents().size() >= 2; }));
  std::set<std::int64_t> announced;
  for (const json& event : events.FillEvents()) announced.insert(event["id"].get<std::int64_t>());
  EXPECT_EQ(announced, (std::set<std::int64_t>{cancelled, partial}));
}

struct LostDisplayCase {
  const char* name;
  bool totalsAnswer;
  const char* settledFrom;
};

class LostDisplay : public ::testing::TestWithParam<LostDisplayCase> {};

// The dispenser loses its power during a fill the service watched pour:
// its display comes back cleared, and the fill is still journaled with fuel.
TEST_P(LostDisplay, NeverClosesAFillSeenWithFuelAsFuelless) {
  const LostDisplayCase& c = GetParam();
  Rig rig(0.5);
  EventStream events(rig.service->Port(), SecretOf("view"));
  const std::int64_t id = rig.Authorize(R"({"grade":1,"volume":9.00})");
  ASSERT_TRUE(WaitFor([&] { return Hundredths(View(*rig.pos, 1, 1)["volume"]) >= 100; }));
  if (!c.totalsAnswer) {
    sim::Fault silent;
    silent.persistent = true;
    rig.Line().InjectFault(1, sim::Request::Totals, silent);
  }
  rig.Line().PowerCycle(1);

  json fill = rig.WaitForStatus(id, "completed");
  ASSERT_EQ(fill["status"], "completed") << fill.dump();
  EXPECT_EQ(fill["settled_from"], c.settledFrom) << fill.dump();
  const auto sales = rig.Line().Snapshot(1).sales;
  ASSERT_EQ(sales.size(), 1u);
  if (c.totalsAnswer) {
    EXPECT_EQ(Difference(fill, sales.front()), "");
  } else {
    EXPECT_GE(Hundredths(fill["volume"]), 100);
    EXPECT_LE(Hundredths(fill["volume"]), sales.front().volume);
    EXPECT_TRUE(WaitFor([&] {
      for (const json& alarm : events.AlarmEvents()) {
        if (alarm["fill_id"] == id) return true;
      }
      return false;
    })) << "no alarm for the fill settled from the last figures seen";
  }
  // The dispenser gets its prices again and sells on.
  rig.Line().ClearFaults(1);
  ASSERT_TRUE(WaitFor([&] { return View(*rig.pos, 1, 1)["state"] == "idle"; }));
  const std::int64_t next = rig.Authorize(R"({"grade":2,"volume":0.50})");
  fill = rig.WaitForStatus(next, "completed");
  ASSERT_EQ(rig.Line().Snapshot(1).sales.size(), 2u);
  EXPECT_EQ(Difference(fill, rig.Line().Snapshot(1).sales.back()), "");
}

INSTANTIATE_TEST_SUITE_P(Settle, LostDisplay,
                         ::testing::Values(LostDisplayCase{"from_totals", true, "totals"},
                                           LostDisplayCase{"from_last_figures", false,
                                                           "last seen"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Killed during a fill that ends, nozzle hung, while the service is away:
// the restart recovers the fill with the nozzle that poured it.
TEST(FillLife, ARecoveredFillKeepsItsNozzle) {
  Rig rig(2);
  const std::int64_t id = rig.Authorize(R"({"grade":3,"volume":1.00})");
  ASSERT_TRUE(WaitFor([&] {
    const json view = View(*rig.pos, 1, 1);
    return view["state"] == "filling" && view["nozzle"] == 3;
  }));
  rig.service->Kill();
  ASSERT_TRUE(
      WaitFor([&] { return rig.Line().Snapshot(1).state == sim::DispenserState::Stopped; }));
  rig.Line().Hang(1);

  rig.service = std::make_unique<Service>(rig.dir, rig.config);
  rig.pos = rig.service->Client("operate");
  const json fill = rig.WaitForStatus(id, "completed");
  const auto sales = rig.Line().Snapshot(1).sales;
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_EQ(Difference(fill, sales.front()), "");
  EXPECT_EQ(fill["recovered"], true);
}

}  // namespace
}  // namespace quorlan::service_test
