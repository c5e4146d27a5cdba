// Line faults during fills: each fault kind of the simulator on one
// dispenser and a line that disappears and comes back. The service reports
// them (the dispenser's link, the health route, `line` events), keeps
// serving the other lines and journals every fill that completes.

#include <gtest/gtest.h>

#include "EventStream.h"
#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

constexpr int kLines = 2;
constexpr int kDispensers = 2;

bool Authorized(httplib::Client& pos, int c, int d) {
  const auto answer =
      pos.Post("/api/v1/dispensers/" + std::to_string(c) + "/" + std::to_string(d) + "/authorize",
               R"({"grade":1,"volume":2.00})", "application/json");
  return answer && answer->status == 200;
}

json Health(httplib::Client& client) {
  const auto answer = client.Get("/api/v1/health");
  return answer ? json::parse(answer->body) : json::object();
}

TEST(ServiceLineFaults, FaultsAreReportedOtherLinesServeAndEveryFillIsJournaled) {
  TempFolder dir;
  SimLines lines(dir.Path(), kLines, kDispensers, 2);
  Service service(dir, WriteConfig(dir, &lines));
  SeedPrices(*service.Client("admin"), kLines, kDispensers);
  auto pos = service.Client("operate");
  EventStream events(service.Port(), SecretOf("view"));
  ASSERT_TRUE(WaitFor([&] { return View(*pos, 2, 1)["state"] == "idle"; }));

  struct Expect {
    sim::FaultKind kind;
    const char* link;   // nullptr: any failure
    const char* state;  // nullptr: any
  };
  const Expect kinds[] = {
      {sim::FaultKind::NoReply, "no reply", nullptr},
      {sim::FaultKind::WrongComplement, "bad reply", nullptr},
      {sim::FaultKind::ShortReply, nullptr, nullptr},
      // A digit above 9 in a figure: a failed read, never a reading.
      {sim::FaultKind::BadDigit, nullptr, nullptr},
      {sim::FaultKind::LateReply, nullptr, nullptr},
      {sim::FaultKind::StatusByte, nullptr, "unknown"},
  };
  for (const Expect& expect : kinds) {
    SCOPED_TRACE(std::string(sim::FaultName(expect.kind)));
    // Fills run on the same line and on the other while the fault strikes.
    ASSERT_TRUE(WaitFor([&] { return Authorized(*pos, 1, 2); }));
    ASSERT_TRUE(WaitFor([&] { return Authorized(*pos, 2, 1); }));
    sim::Fault fault;
    fault.kind = expect.kind;
    fault.persistent = true;
    fault.statusByte = 0x5A;
    fault.delay = std::chrono::seconds(3);  // beyond the reply timeout
    lines.Line(1).InjectFault(1, sim::Request::Status, fault);
    EXPECT_TRUE(WaitFor([&] {
      const json view = View(*pos, 1, 1);
      if (expect.state) return view["state"] == expect.state;
      return expect.link ? view["link"] == expect.link : view["link"] != "ok";
    })) << View(*pos, 1, 1).dump();
    lines.Line(1).ClearFaults(1);
    EXPECT_TRUE(WaitFor([&] {
      const json view = View(*pos, 1, 1);
      return view["link"] == "ok" && view["state"] == "idle";
    }));
  }

  // Line 2 disappears during a fill and comes back.
  ASSERT_TRUE(WaitFor([&] { return Authorized(*pos, 2, 2); }));
  lines.Remove(2);
  EXPECT_TRUE(WaitFor([&] {
    const json health = Health(*pos);
    return health["status"] == "degraded" && health["lines"][1]["up"] == false;
  }));
  EXPECT_TRUE(WaitFor([&] { return View(*pos, 2, 2)["link"] == "line down"; }));
  EXPECT_TRUE(WaitFor([&] { return Authorized(*pos, 1, 1); })) << "line 1 keeps serving";
  lines.Restore(2);
  EXPECT_TRUE(WaitFor([&] { return Health(*pos)["status"] == "ok"; }));
  // Health may say so before the stream has carried the line's return.
  EXPECT_TRUE(WaitFor([&] { return events.LineEvents().size() >= 2; }));
  const auto lineEvents = events.LineEvents();
  ASSERT_GE(lineEvents.size(), 2u);
  EXPECT_EQ(json::parse(lineEvents.front())["up"], false);
  EXPECT_EQ(json::parse(lineEvents.back())["up"], true);

  // Every fill that completed on a dispenser is in the journal once.
  std::string difference;
  EXPECT_TRUE(WaitFor([&] {
    JournalSums journal = ReadJournal(*pos);
    for (int c = 1; c <= kLines; ++c) {
      for (int d = 1; d <= kDispensers; ++d) {
        if (journal.sums[{c, d}] != lines.Totals(c, d)) {
          difference = std::to_string(c) + "/" + std::to_string(d);
          return false;
        }
      }
    }
    return !journal.duplicate && journal.fills > 0;
  })) << difference;
  events.Close();
  EXPECT_EQ(service.Terminate(), 0);
}

// The dispenser takes an authorization whose reply comes too late: the
// till hears 502, and its repeat with the key must learn that the
// authorization went out, not send a second one.
TEST(ServiceLineFaults, ARepeatOfAnAuthorizationWhoseReplyWasLostSendsNoSecond) {
  TempDir dir;
  SimLines lines(dir.Path(), 1, 1, 5);
  Service service(dir, WriteConfig(dir, &lines));
  SeedPrices(*service.Client("admin"), 1, 1);
  auto pos = service.Client("operate");
  ASSERT_TRUE(WaitFor([&] { return View(*pos, 1, 1)["state"] == "idle"; }));
  sim::Fault late;
  late.kind = sim::FaultKind::LateReply;
  late.delay = std::chrono::milliseconds(2000);  // beyond the reply timeout
  lines.Line(1).InjectFault(1, sim::Request::PresetAuthorize, late);
  const httplib::Headers key{{"Idempotency-Key", "sale-1"}};
  const std::string authorize = "/api/v1/dispensers/1/1/authorize";
  const std::string body = R"({"grade":1,"volume":1.00})";
  const auto first = pos->Post(authorize, key, body, "application/json");
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 502) << first->body;

  // 503 until the dispenser has told.
  int status = 0;
  std::string said;
  ASSERT_TRUE(WaitFor([&] {
    const auto repeat = pos->Post(authorize, key, body, "application/json");
    status = repeat ? repeat->status : 0;
    said = repeat ? repeat->body : "";
    return status != 0 && status != 503;
  }));
  ASSERT_EQ(status, 200) << said;
  ASSERT_TRUE(WaitFor(
      [&] { return View(*pos, 1, 1)["state"] == "idle" && CompletedFills(*pos).size() == 1; }));
  const auto fills = CompletedFills(*pos);
  EXPECT_EQ(json::parse(said)["fill_id"], fills.front()["id"]);
  EXPECT_EQ(Hundredths(fills.front()["volume"]), 100);
  EXPECT_EQ(lines.Line(1).Snapshot(1).sales.size(), 1u);
  EXPECT_EQ(Imbalance(ReadJournal(*pos), lines), "");
}

}  // namespace
}  // namespace quorlan::service_test
