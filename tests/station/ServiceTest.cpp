// `quorlan serve` against the simulator on a pseudo-terminal: a whole fill
// through the API, a kill in the middle of a fill, and the rule that no
// price nobody gave ever reaches a dispenser.

#include <gtest/gtest.h>
#include <signal.h>

#include <mutex>
#include <regex>
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

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

std::function<bool(const json&)> InState(const std::string& state) {
  return [state](const json& dispenser) { return dispenser["state"] == state; };
}

std::function<bool(const json&)> Fills(std::size_t count) {
  return [count](const json& fills) { return fills.size() == count; };
}

std::array<std::int32_t, 4> TableOf(sim::Line& line, int dispenser) {
  const auto prices = line.Snapshot(dispenser).prices;
  return {prices[0], prices[1], prices[2], prices[3]};
}

TEST(StationService, DrivesOneWholeFillThroughTheApi) {
  ServiceFixture station({.dispensers = 2, .flowRate = 2, .autoNozzle = true});
  station.StartService();
  const Reply put = station.Call("PUT", "/api/v1/prices", kAdminSecret, std::string(kTable));
  ASSERT_EQ(put.status, 200) << put.body.dump();
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));

  std::mutex mutex;
  std::string events;
  std::thread reader([&] {
    station.ReadEvents("", [&](const std::string& text) {
      std::lock_guard lock(mutex);
      events = text;
      const auto fill = text.find("event: fill");
      return fill != std::string::npos && text.find("\n\n", fill) != std::string::npos;
    });
  });
  // The stream has its snapshot before the fill starts.
  ServiceFixture::WaitUntil([&] {
    std::lock_guard lock(mutex);
    return Count(events, "event: dispenser") >= 2;
  });

  const Reply authorized = station.Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret,
                                        R"({"grade":2,"volume":3.00})");
  ASSERT_EQ(authorized.status, 200) << authorized.body.dump();
  EXPECT_EQ(authorized.body["state"], "authorized");
  EXPECT_EQ(authorized.body["limit"], json({{"volume", 3.0}}));
  EXPECT_EQ(authorized.body["price"], 54.9);

  const json fills = station.WaitFor("/api/v1/fills", Fills(1));
  reader.join();
  const json& fill = fills[0];
  EXPECT_EQ(fill["id"], authorized.body["fill_id"]);
  EXPECT_EQ(fill["volume"], 3.0);
  EXPECT_EQ(fill["amount"], 164.7);
  EXPECT_EQ(fill["price"], 54.9);
  EXPECT_EQ(fill["grade"], 2);
  EXPECT_EQ(fill["authorized_by"], "pos-1");
  EXPECT_EQ(fill["limit"], json({{"volume", 3.0}}));
  EXPECT_EQ(fill["recovered"], false);
  EXPECT_GT(fill["nozzle"], 0);
  EXPECT_EQ(station.Get("/api/v1/fills/" + fill["id"].dump()).body, fill);

  // The stream told the fill as it went, ids rising.
  EXPECT_NE(events.find(R"("state":"filling")"), std::string::npos) << events;
  EXPECT_EQ(Count(events, "event: fill"), 1);
  EXPECT_NE(events.find(R"("authorized_by":"pos-1")"), std::string::npos);
  std::int64_t last = 0;
  const std::regex id("id: (\\d+)");
  for (std::sregex_iterator at(events.begin(), events.end(), id), end; at != end; ++at) {
    const std::int64_t next = std::stoll((*at)[1]);
    EXPECT_GT(next, last);
    last = next;
  }
  EXPECT_EQ(station.StopService(), 0);
}

TEST(StationService, AFillThatEndsWhileTheServiceIsKilledIsJournaledOnce) {
  ServiceFixture station({.dispensers = 1, .flowRate = 1, .autoNozzle = true});
  station.StartService();
  ASSERT_EQ(station.Call("PUT", "/api/v1/prices", kAdminSecret, std::string(kTable)).status, 200);
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));
  // Two fills alike: the display after the second shows what it showed before.
  const auto fill = [&] {
    ASSERT_EQ(station
                  .Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret,
                        R"({"grade":1,"volume":20.00})")
                  .status,
              200);
    station.WaitFor("/api/v1/dispensers/1/1", InState("filling"));
  };
  fill();
  station.Line().Advance(60);
  station.WaitFor("/api/v1/fills", Fills(1));
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));
  fill();

  station.KillService();
  // The fill runs to its limit and the customer hangs up while nobody polls.
  station.Line().Advance(60);
  station.Line().Hang(1);

  station.StartService();
  json fills = station.WaitFor("/api/v1/fills", Fills(2));
  for (const json& each : fills) {
    EXPECT_EQ(each["volume"], 20.0);
    EXPECT_EQ(each["amount"], 1058.0);
    EXPECT_EQ(each["authorized_by"], "pos-1");
  }
  EXPECT_EQ(fills[0]["recovered"], false);
  EXPECT_EQ(fills[1]["recovered"], true);
  station.WaitFor("/api/v1/dispensers/1/1",
                  [](const json& d) { return d["state"] == "idle" && d["fill_id"].is_null(); });

  // Neither a clean restart nor another kill repeats it.
  EXPECT_EQ(station.StopService(), 0);
  station.StartService();
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));
  station.KillService();
  station.StartService();
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));
  EXPECT_EQ(station.Get("/api/v1/fills").body, fills);
  // A client that missed everything gets each fill once, from before the restarts.
  const std::string replay = station.ReadEvents("0", [](const std::string& text) {
    return text.find("event: dispenser") != std::string::npos;
  });
  EXPECT_EQ(Count(replay, "event: fill"), 2) << replay;
}

TEST(StationService, NoPriceNobodyGaveReachesTheLine) {
  ServiceFixture station({.dispensers = 2, .flowRate = 1, .autoNozzle = true});
  station.StartService();

  // Before any price: the dispensers show it and nothing is sent.
  station.WaitFor("/api/v1/dispensers/1/1", InState("no prices"));
  station.WaitFor("/api/v1/dispensers/1/2", InState("no prices"));
  EXPECT_EQ(station.Line().Count(sim::Request::PriceTable), 0u);
  EXPECT_EQ(station.Line().Count(sim::Request::GradeOnePrice), 0u);
  EXPECT_EQ(
      station.Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret, R"({"grade":1})")
          .status,
      409);

  // A table only where the book holds grades 1..4; grade 1 alone elsewhere.
  std::string book(kTable);
  book.back() = ',';
  book += R"({"channel":1,"dispenser":2,"grade":1,"price":51.00}])";
  const Reply put = station.Call("PUT", "/api/v1/prices", kAdminSecret, book);
  ASSERT_EQ(put.status, 200);
  EXPECT_EQ(put.body["dispensers"][0]["result"], "downloaded");
  EXPECT_NE(put.body["dispensers"][1]["result"], "downloaded");
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));
  station.WaitFor("/api/v1/dispensers/1/2", InState("idle"));
  EXPECT_EQ(TableOf(station.Line(), 1), (std::array<std::int32_t, 4>{5290, 5490, 5890, 6190}));
  EXPECT_EQ(TableOf(station.Line(), 2), (std::array<std::int32_t, 4>{5100, 0, 0, 0}));

  // A change under a running fill waits for its end; the fill keeps its price.
  ASSERT_EQ(station
                .Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret,
                      R"({"grade":1,"volume":50.00})")
                .status,
            200);
  station.WaitFor("/api/v1/dispensers/1/1", InState("filling"));
  const Reply change = station.Call("PUT", "/api/v1/prices", kAdminSecret,
                                    R"([{"channel":1,"dispenser":1,"grade":1,"price":60.00}])");
  ASSERT_EQ(change.status, 200);
  EXPECT_EQ(change.body["dispensers"][0]["result"], "deferred");
  EXPECT_EQ(station.Line().Snapshot(1).prices[0], 5290);
  ASSERT_EQ(station.Call("POST", "/api/v1/dispensers/1/1/stop", kOperateSecret).status, 200);
  // The simulated customer hangs up after the stop.
  const json fill = station.WaitFor("/api/v1/fills", Fills(1))[0];
  EXPECT_EQ(fill["price"], 52.9);
  const double volume = fill["volume"];
  EXPECT_NEAR(fill["amount"].get<double>(), std::round(volume * 5290) / 100, 0.001);
  ServiceFixture::WaitUntil([&] { return station.Line().Snapshot(1).prices[0] == 6000; });

  // Power-up: the dispensers come back without prices and get the book's.
  station.KillService();
  station.NewLine({.dispensers = 2, .autoNozzle = true});
  station.StartService();
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));
  station.WaitFor("/api/v1/dispensers/1/2", InState("idle"));
  EXPECT_EQ(TableOf(station.Line(), 1), (std::array<std::int32_t, 4>{6000, 5490, 5890, 6190}));
  EXPECT_EQ(TableOf(station.Line(), 2), (std::array<std::int32_t, 4>{5100, 0, 0, 0}));
}

// A new station takes its book from the file, the dispenser's own price over
// the station's, and sells at once; once an admin changed a price, a start
// with the same file keeps the admin's.
TEST(StationService, AStartingBookFromTheFileIsTakenOnceAndReachesTheLine) {
  ServiceFixture station({.dispensers = 2, .flowRate = 2, .autoNozzle = true});
  station.Configure({.tables =
                         "[[price]]\ngrade = 1\nprice = 52.90\n"
                         "[[price]]\ngrade = 2\nprice = 54.9\n"
                         "[[price]]\ngrade = 3\nprice = 58\n"
                         "[[price]]\ngrade = 4\nprice = 61.90\n"
                         "[[price]]\nchannel = 1\ndispenser = 2\ngrade = 1\nprice = 51.00\n"});
  station.StartService();
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));
  station.WaitFor("/api/v1/dispensers/1/2", InState("idle"));
  EXPECT_EQ(TableOf(station.Line(), 1), (std::array<std::int32_t, 4>{5290, 5490, 5800, 6190}));
  EXPECT_EQ(TableOf(station.Line(), 2), (std::array<std::int32_t, 4>{5100, 5490, 5800, 6190}));
  EXPECT_EQ(station.Get("/api/v1/prices").body.size(), 8u);
  ASSERT_EQ(station
                .Call("POST", "/api/v1/dispensers/1/2/authorize", kOperateSecret,
                      R"({"grade":1,"amount":10.20})")
                .status,
            200);
  EXPECT_EQ(station.WaitFor("/api/v1/fills", Fills(1))[0]["price"], 51.0);

  ASSERT_EQ(station
                .Call("PUT", "/api/v1/prices", kAdminSecret,
                      R"([{"channel":1,"dispenser":1,"grade":1,"price":60.00}])")
                .status,
            200);
  station.KillService();
  station.NewLine({.dispensers = 2, .autoNozzle = true});
  station.StartService();
  station.WaitFor("/api/v1/dispensers/1/1", InState("idle"));
  EXPECT_EQ(TableOf(station.Line(), 1), (std::array<std::int32_t, 4>{6000, 5490, 5800, 6190}));
  const json book = station.Get("/api/v1/prices").body;
  EXPECT_EQ(book.size(), 8u) << book.dump();
}

}  // namespace
}  // namespace quorlan::testing
