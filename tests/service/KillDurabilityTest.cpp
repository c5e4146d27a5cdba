// Kill durability: the service is killed (SIGKILL) at a random moment of
// polling, authorizations, fills, price changes, clears, shift closes and
// journal commits, and
// started again on the same dispensers. After every round the journal holds
// each fill the dispensers delivered exactly once, nothing more, each with
// the nozzle, grade, price, volume and amount the dispenser charged; every
// acknowledged price is in the book, every acknowledged clear and shift
// stands once and answers its key again, and the database is sound.
// QUORLAN_KILL_ROUNDS and QUORLAN_KILL_SEED choose the run (the suite's is
// short; docs/reliability.md gives the long one).

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

constexpr int kLines = 2;
constexpr int kDispensers = 4;
constexpr double kFlowRate = 5;  // litres a second: a fill lasts a few polls

using Key = std::tuple<int, int, int>;

// Completed-fill sums per dispenser straight from the database, as a
// reader beside the running service sees them.
std::map<std::pair<int, int>, std::int64_t> StoredVolumes(const std::string& database) {
  std::map<std::pair<int, int>, std::int64_t> sums;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(
            db,
            "SELECT channel, dispenser, SUM(volume) FROM fills WHERE status = 'done' "
            "GROUP BY channel, dispenser",
            -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        sums[{sqlite3_column_int(statement, 0), sqlite3_column_int(statement, 1)}] =
            sqlite3_column_int64(statement, 2);
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return sums;
}

// The dispensers' own record of every sale with fuel against the journal's
// fills with fuel, dispenser by dispenser in order: the first difference in
// words, or empty.
std::string SalesDifference(const std::vector<json>& fills, SimLines& lines) {
  std::map<std::pair<int, int>, std::vector<json>> journaled;
  for (const json& fill : fills) {
    if (Hundredths(fill["volume"]) > 0) {
      journaled[{fill["channel"].get<int>(), fill["dispenser"].get<int>()}].push_back(fill);
    }
  }
  for (int c = 1; c <= lines.Count(); ++c) {
    for (int d = 1; d <= lines.Dispensers(); ++d) {
      std::vector<sim::Sale> sales;
      for (const auto& sale : lines.Line(c).Snapshot(d).sales) {
        if (sale.volume > 0) sales.push_back(sale);
      }
      const auto& mine = journaled[{c, d}];
      const std::string where = std::to_string(c) + "/" + std::to_string(d) + ": ";
      if (mine.size() != sales.size()) {
        return where + std::to_string(sales.size()) + " sales, " + std::to_string(mine.size()) +
               " fills journaled";
      }
      for (std::size_t i = 0; i < sales.size(); ++i) {
        if (auto difference = Difference(mine[i], sales[i]); !difference.empty()) {
          return where + difference;
        }
      }
    }
  }
  return {};
}

// What clients did to the service of one round.
struct Traffic {
  std::mutex mutex;
  std::map<Key, std::int64_t> acknowledged;     // the last price answered 200
  std::map<Key, std::int64_t> unanswered;       // stored or not: either value may stand
  std::map<std::int64_t, std::string> cleared;  // fill -> the clear's key, answered 200
  std::vector<json> closed;                     // shift reports answered 200
  std::atomic<int> authorizing{0};
  std::atomic<int> pricing{0};
  std::atomic<int> clearing{0};
  std::atomic<int> closing{0};
  std::atomic<bool> running{true};
};

void Authorize(const Service& service, unsigned seed, Traffic& traffic) {
  std::mt19937 random(seed);
  auto pos = service.Client("operate");
  pos->set_read_timeout(std::chrono::seconds(5));
  while (traffic.running) {
    const int c = 1 + int(random() % kLines), d = 1 + int(random() % kDispensers);
    const json body{{"grade", 1 + int(random() % 4)},
                    {"volume", double(50 + random() % 250) / 100}};
    ++traffic.authorizing;
    pos->Post("/api/v1/dispensers/" + std::to_string(c) + "/" + std::to_string(d) + "/authorize",
              body.dump(), "application/json");
    --traffic.authorizing;
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
  }
}

void ChangePrices(const Service& service, unsigned seed, Traffic& traffic) {
  std::mt19937 random(seed);
  auto admin = service.Client("admin");
  admin->set_read_timeout(std::chrono::seconds(5));
  while (traffic.running) {
    const Key key{1 + int(random() % kLines), 1 + int(random() % kDispensers),
                  1 + int(random() % 4)};
    const std::int64_t price = 4000 + std::int64_t(random() % 2000);
    const json body = json::array({{{"channel", std::get<0>(key)},
                                    {"dispenser", std::get<1>(key)},
                                    {"grade", std::get<2>(key)},
                                    {"price", double(price) / 100}}});
    ++traffic.pricing;
    const auto answer = admin->Put("/api/v1/prices", body.dump(), "application/json");
    --traffic.pricing;
    std::lock_guard lock(traffic.mutex);
    if (!answer) {
      traffic.unanswered[key] = price;
      break;  // the service is gone
    }
    if (answer->status == 200) traffic.acknowledged[key] = price;
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 150));
  }
}

// A till that pays unpaid fills, each clear with its own key.
void Clear(const Service& service, unsigned seed, Traffic& traffic) {
  std::mt19937 random(seed);
  auto pos = service.Client("operate");
  pos->set_read_timeout(std::chrono::seconds(5));
  while (traffic.running) {
    const auto unpaid = pos->Get("/api/v1/fills?paid=false&limit=5");
    if (!unpaid) break;
    for (const json& fill : json::parse(unpaid->body, nullptr, false)) {
      if (!fill.is_object() || !traffic.running) break;
      const std::int64_t id = fill["id"];
      const std::string key = "clear-" + std::to_string(id);
      ++traffic.clearing;
      const auto answer =
          pos->Post("/api/v1/fills/" + std::to_string(id) + "/clear", {{"Idempotency-Key", key}},
                    json{{"reference", key}}.dump(), "application/json");
      --traffic.clearing;
      if (!answer) return;  // the service is gone
      std::lock_guard lock(traffic.mutex);
      if (answer->status == 200) traffic.cleared[id] = key;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 100));
  }
}

// The office closes a shift now and then.
void CloseShifts(const Service& service, unsigned seed, Traffic& traffic) {
  std::mt19937 random(seed);
  auto office = service.Client("operate");
  office->set_read_timeout(std::chrono::seconds(10));
  while (traffic.running) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 600));
    ++traffic.closing;
    const auto answer = office->Post("/api/v1/shifts/close", "", "application/json");
    --traffic.closing;
    if (!answer) return;
    std::lock_guard lock(traffic.mutex);
    if (answer->status == 200) traffic.closed.push_back(json::parse(answer->body));
  }
}

TEST(ServiceKill, EveryFillAndAcknowledgedPriceSurvivesKillsAtRandomMoments) {
  const int rounds = Setting("QUORLAN_KILL_ROUNDS", 20);
  const unsigned seed = unsigned(Setting("QUORLAN_KILL_SEED", 16));
  std::mt19937 random(seed);
  TempFolder dir;
  SimLines lines(dir.Path(), kLines, kDispensers, kFlowRate);
  const std::string config = WriteConfig(dir, &lines);
  const std::string database = dir.File("station.db");
  std::map<Key, std::int64_t> book;             // every price acknowledged so far
  std::map<std::int64_t, std::string> cleared;  // every clear acknowledged so far
  std::map<std::int64_t, json> shifts;          // every shift close acknowledged so far
  std::map<std::string, int> moments;
  std::size_t fillsChecked = 0;

  for (int round = 1; round <= rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round) + " of seed " + std::to_string(seed));
    auto service = std::make_unique<Service>(dir, config);
    if (round == 1) SeedPrices(*service->Client("admin"), kLines, kDispensers);
    Traffic traffic;
    std::thread authorizer(Authorize, std::cref(*service), random(), std::ref(traffic));
    std::thread pricer(ChangePrices, std::cref(*service), random(), std::ref(traffic));
    std::thread till(Clear, std::cref(*service), random(), std::ref(traffic));
    std::thread office(CloseShifts, std::cref(*service), random(), std::ref(traffic));
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));

    // Name the moment, then kill at once.
    std::vector<std::string> hit;
    if (traffic.authorizing > 0) hit.push_back("authorization");
    if (traffic.pricing > 0) hit.push_back("price change");
    if (traffic.clearing > 0) hit.push_back("clear");
    if (traffic.closing > 0) hit.push_back("shift close");
    const auto stored = StoredVolumes(database);
    bool filling = false, unjournaled = false;
    for (int c = 1; c <= kLines; ++c) {
      for (int d = 1; d <= kDispensers; ++d) {
        // A fill that ended on the dispenser and is not in the journal yet.
        const bool flowing = lines.Line(c).Snapshot(d).state == sim::DispenserState::Filling;
        const auto at = stored.find({c, d});
        const std::int64_t journaled = at == stored.end() ? 0 : at->second;
        filling = filling || flowing;
        unjournaled = unjournaled || (!flowing && lines.Totals(c, d).first != journaled);
      }
    }
    service->Kill();
    if (filling) hit.push_back("fill");
    if (unjournaled) hit.push_back("commit");
    if (hit.empty()) hit.push_back("polling");
    for (const auto& name : hit) ++moments[name];

    traffic.running = false;
    authorizer.join();
    pricer.join();
    till.join();
    office.join();
    for (const auto& [key, price] : traffic.acknowledged) book[key] = price;
    for (const auto& [fill, key] : traffic.cleared) cleared[fill] = key;
    for (const json& report : traffic.closed) shifts[report["id"]] = report;
    const auto& maybe = traffic.unanswered;
    ASSERT_EQ(IntegrityCheck(database), "ok");

    // Started again, it settles every fill the dispensers delivered.
    service = std::make_unique<Service>(dir, config);
    auto view = service->Client("view");
    JournalSums journal;
    std::string difference;
    const bool balanced = WaitFor([&] {
      journal = ReadJournal(*view);
      difference = Imbalance(journal, lines);
      return difference.empty();
    });
    ASSERT_TRUE(balanced) << difference;
    ASSERT_FALSE(journal.duplicate);
    fillsChecked = journal.fills;
    ASSERT_EQ(SalesDifference(CompletedFills(*view), lines), "");

    const auto prices = view->Get("/api/v1/prices");
    ASSERT_TRUE(prices && prices->status == 200);
    std::map<Key, std::int64_t> storedBook;
    for (const json& entry : json::parse(prices->body)) {
      storedBook[{entry["channel"], entry["dispenser"], entry["grade"]}] =
          Hundredths(entry["price"]);
    }
    for (auto& [key, price] : book) {
      const auto at = storedBook.find(key);
      ASSERT_NE(at, storedBook.end());
      const auto pending = maybe.find(key);
      if (pending != maybe.end() && at->second == pending->second) price = pending->second;
      ASSERT_EQ(at->second, price) << "an acknowledged price is lost";
    }
    // Every acknowledged clear stands, and its key answers it again without a second act.
    auto pos = service->Client("operate");
    for (const auto& [fill, key] : cleared) {
      const auto again =
          pos->Post("/api/v1/fills/" + std::to_string(fill) + "/clear", {{"Idempotency-Key", key}},
                    json{{"reference", key}}.dump(), "application/json");
      ASSERT_TRUE(again && again->status == 200) << "fill " << fill;
      const json paid = json::parse(again->body);
      ASSERT_EQ(paid["paid"], true) << "an acknowledged clear is lost: fill " << fill;
      ASSERT_EQ(paid["reference"], key);
    }
    // Every acknowledged shift stands as answered; none was closed twice.
    const auto listed = view->Get("/api/v1/shifts?limit=1000");
    ASSERT_TRUE(listed && listed->status == 200);
    std::int64_t previous = 0;
    std::map<std::int64_t, json> storedShifts;
    for (const json& report : json::parse(listed->body)) {
      ASSERT_GT(report["id"].get<std::int64_t>(), previous);
      previous = report["id"];
      storedShifts[previous] = report;
    }
    for (const auto& [id, report] : shifts) {
      ASSERT_EQ(storedShifts[id], report) << "an acknowledged shift close is lost: " << id;
    }
    if (round == rounds) {
      EXPECT_EQ(service->Terminate(), 0);
    }
  }
  std::string hits;
  for (const auto& [name, count] : moments) hits += " " + name + "=" + std::to_string(count);
  std::printf("kill durability: %d rounds, moments:%s; %zu fills in the journal checked\n", rounds,
              hits.c_str(), fillsChecked);
  EXPECT_GT(fillsChecked, 0u);
}

// A restarted service that cannot reach a dispenser yet knows nothing of
// its display: an authorization then must not open a row that the old
// readout, seen later, would complete as a new fill.
TEST(ServiceKill, AuthorizingBeforeTheFirstAnswerInventsNoFill) {
  TempFolder dir;
  SimLines lines(dir.Path(), 1, 1, kFlowRate);
  const std::string config = WriteConfig(dir, &lines);
  auto service = std::make_unique<Service>(dir, config);
  SeedPrices(*service->Client("admin"), 1, 1);
  auto pos = service->Client("operate");
  const std::string authorize = "/api/v1/dispensers/1/1/authorize";
  const std::string body = R"({"grade":1,"volume":1.00})";
  ASSERT_TRUE(WaitFor([&] { return View(*pos, 1, 1)["state"] == "idle"; }));
  ASSERT_EQ(pos->Post(authorize, body, "application/json")->status, 200);
  ASSERT_TRUE(WaitFor([&] { return ReadJournal(*pos).fills == 1; }));
  service->Kill();

  sim::Fault silent;
  silent.persistent = true;
  for (auto request :
       {sim::Request::Status, sim::Request::Authorize, sim::Request::PresetAuthorize}) {
    lines.Line(1).InjectFault(1, request, silent);
  }
  service = std::make_unique<Service>(dir, config);
  pos = service->Client("operate");
  ASSERT_TRUE(WaitFor([&] { return View(*pos, 1, 1)["state"] == "no reply"; }));
  EXPECT_EQ(pos->Post(authorize, body, "application/json")->status, 502);
  lines.Line(1).ClearFaults(1);
  ASSERT_TRUE(WaitFor([&] {
    const json view = View(*pos, 1, 1);
    return view["state"] == "idle" && view["fill_id"].is_null();
  }));
  JournalSums journal = ReadJournal(*pos);
  EXPECT_EQ(journal.fills, 1u);
  EXPECT_EQ((journal.sums[{1, 1}]), lines.Totals(1, 1));
}

// A till whose authorization a kill cut off before it was answered sends it
// again with its key once the service is back, and learns what happened:
// the fill it started, or that nothing went out. The database is locked as
// the authorization reaches the line, so the kill lands after its journal
// row and its key were stored and before anything after them could be.
TEST(ServiceKill, ARepeatedKeyLearnsWhetherTheAuthorizationAKillCutOffWentOut) {
  struct Case {
    const char* name;
    bool reaches;  // the dispenser takes the authorization
    int status;
  };
  for (const Case& test :
       {Case{"taken by the dispenser", true, 200}, Case{"lost on the line", false, 409}}) {
    SCOPED_TRACE(test.name);
    TempDir dir;
    SimLines lines(dir.Path(), 1, 1, kFlowRate);
    const std::string config = WriteConfig(dir, &lines);
    auto service = std::make_unique<Service>(dir, config);
    SeedPrices(*service->Client("admin"), 1, 1);
    auto pos = service->Client("operate");
    ASSERT_TRUE(WaitFor([&] { return View(*pos, 1, 1)["state"] == "idle"; }));
    if (!test.reaches) {
      sim::Fault lost;
      lost.persistent = true;
      lines.Line(1).InjectFault(1, sim::Request::PresetAuthorize, lost);
    }
    LockAtAuthorization lock(lines, 1, dir.File("station.db"));
    const httplib::Headers key{{"Idempotency-Key", "sale-1"}};
    const std::string authorize = "/api/v1/dispensers/1/1/authorize";
    const std::string body = R"({"grade":1,"volume":1.00})";
    auto first = service->Client("operate");
    std::thread till([&] { first->Post(authorize, key, body, "application/json"); });
    ASSERT_TRUE(WaitFor([&] { return lock.Taken(); }));
    service->Kill();
    till.join();
    lock.Release();
    lines.Line(1).ClearFaults(1);

    service = std::make_unique<Service>(dir, config);
    pos = service->Client("operate");
    // 503 while the dispenser has not told yet.
    int status = 0;
    std::string said;
    ASSERT_TRUE(WaitFor([&] {
      const auto repeat = pos->Post(authorize, key, body, "application/json");
      status = repeat ? repeat->status : 0;
      said = repeat ? repeat->body : "";
      return status != 0 && status != 503;
    }));
    ASSERT_EQ(status, test.status) << said;
    const json answer = json::parse(said);
    // Kept: every later repeat hears the same.
    const auto again = pos->Post(authorize, key, body, "application/json");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, test.status);
    EXPECT_EQ(again->body, said);
    ASSERT_TRUE(WaitFor([&] { return View(*pos, 1, 1)["state"] == "idle"; }));
    const JournalSums journal = ReadJournal(*pos);
    EXPECT_EQ(Imbalance(journal, lines), "");
    if (test.reaches) {
      EXPECT_EQ(journal.fills, 1u);
      const json fill = FillOf(*pos, answer["fill_id"].get<std::int64_t>());
      ASSERT_FALSE(fill.empty()) << said;
      EXPECT_EQ(Hundredths(fill["volume"]), 100);
      EXPECT_EQ(fill["authorized_by"], "pos-1");
    } else {
      EXPECT_EQ(journal.fills, 0u);
      EXPECT_EQ(lines.Totals(1, 1).first, 0);
    }
  }
}

// A fill that started and ended while the service was away never showed
// its nozzle: the nozzles' totals tell which one sold it, so the shift's
// per-nozzle figures balance. A plain authorization may end on any nozzle,
// a preset on its grade's.
TEST(ServiceKill, AFillThatEndedWhileTheServiceWasAwayKnowsItsNozzleFromTheTotals) {
  struct Case {
    const char* name;
    std::string body;
    int nozzle;
  };
  for (const Case& test :
       {Case{"plain", R"({"grade":1})", 3}, Case{"preset", R"({"grade":2,"volume":1.00})", 2}}) {
    SCOPED_TRACE(test.name);
    TempDir dir;
    SimLines lines(dir.Path(), 1, 1, kFlowRate);
    lines.Line(1).SetAutoNozzle(false);
    const std::string config = WriteConfig(dir, &lines);
    auto service = std::make_unique<Service>(dir, config);
    SeedPrices(*service->Client("admin"), 1, 1);
    auto pos = service->Client("operate");
    ASSERT_TRUE(WaitFor([&] { return View(*pos, 1, 1)["state"] == "idle"; }));
    const auto authorized =
        pos->Post("/api/v1/dispensers/1/1/authorize", test.body, "application/json");
    ASSERT_TRUE(authorized && authorized->status == 200);
    service->Kill();

    sim::Line& line = lines.Line(1);
    ASSERT_TRUE(line.Lift(1, test.nozzle));
    line.Advance(1.0);
    line.Hang(1);
    ASSERT_EQ(line.Snapshot(1).sales.size(), 1u);

    service = std::make_unique<Service>(dir, config);
    pos = service->Client("operate");
    ASSERT_TRUE(WaitFor([&] { return CompletedFills(*pos).size() == 1; }));
    const json fill = CompletedFills(*pos).front();
    EXPECT_TRUE(fill["recovered"].get<bool>()) << fill.dump();
    EXPECT_EQ(Difference(fill, line.Snapshot(1).sales.front()), "");
  }
}

}  // namespace
}  // namespace quorlan::service_test
