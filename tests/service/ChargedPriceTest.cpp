// SPDX-License-Identifier: Apache-2.0
// The journal says what the pump charged: a fill's nozzle, grade and price
// are those the dispenser sold at (a plain authorization's grade is only a
// request), and a dispenser whose price table is not confirmed gets it
// again before an authorization, or the authorization is refused.

#include <gtest/gtest.h>

#include "EventStream.h"
#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

const std::string kAuthorize = "/api/v1/dispensers/1/1/authorize";

struct Rig {
  TempFolder dir;
  SimLines lines{dir.Path(), 1, 1, 5};
  Service service{dir, WriteConfig(dir, &lines)};
  std::unique_ptr<httplib::Client> pos = service.Client("operate");
  std::unique_ptr<httplib::Client> admin = service.Client("admin");

  Rig() {
    SeedPrices(*admin, 1, 1);
    if (!WaitFor([&] { return View(*pos, 1, 1)["state"] == "idle"; })) {
      throw std::runtime_error("the dispenser never came idle");
    }
  }
  sim::Line& Line() { return lines.Line(1); }
  // The journal's only completed fill, once there is one.
  json OnlyFill() {
    std::vector<json> fills;
    if (!WaitFor([&] { return !(fills = CompletedFills(*pos)).empty(); })) return {};
    return fills.size() == 1 ? fills.front() : json();
  }
};

struct GradeCase {
  const char* name;
  const char* body;
  json requestedGrade;
};

class WhatThePumpUsed : public ::testing::TestWithParam<GradeCase> {};

TEST_P(WhatThePumpUsed, IsWhatTheFillSays) {
  Rig rig;
  const auto answer = rig.pos->Post(kAuthorize, GetParam().body, "application/json");
  ASSERT_EQ(answer->status, 200) << answer->body;
  const json fill = rig.OnlyFill();
  const auto sales = rig.Line().Snapshot(1).sales;
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_EQ(Difference(fill, sales.front()), "");
  EXPECT_EQ(fill["requested_grade"], GetParam().requestedGrade) << fill.dump();
  EXPECT_EQ(fill["status"], "completed");
  EXPECT_EQ(fill["mismatch"], false);
}

// The simulated customer lifts nozzle 1 after a plain authorization and the
// preset grade's nozzle after a preset.
INSTANTIATE_TEST_SUITE_P(
    Authorizations, WhatThePumpUsed,
    ::testing::Values(GradeCase{"plain_asking_another_grade", R"({"grade":3})", 3},
                      GradeCase{"preset_volume", R"({"grade":2,"volume":1.50})", nullptr},
                      GradeCase{"preset_amount", R"({"grade":4,"amount":20.00})", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A price table the line did not take: the authorization is refused while
// it cannot be downloaded, and once it can, the fill is at the price the
// pump holds.
TEST(UnconfirmedPrices, AreDownloadedAgainBeforeAnAuthorizationOrRefuseIt) {
  Rig rig;
  sim::Fault lost;
  lost.persistent = true;
  rig.Line().InjectFault(1, sim::Request::PriceTable, lost);
  const auto put =
      rig.admin->Put("/api/v1/prices", R"([{"channel":1,"dispenser":1,"grade":1,"price":55.55}])",
                     "application/json");
  ASSERT_EQ(put->status, 200);
  EXPECT_EQ(json::parse(put->body)["dispensers"][0]["result"], "no reply") << put->body;

  const auto frames = [&] {
    return rig.Line().Count(sim::Request::Authorize) +
           rig.Line().Count(sim::Request::PresetAuthorize);
  };
  const std::uint64_t before = frames();
  for (const char* body : {R"({"grade":1})", R"({"grade":1,"volume":2.00})"}) {
    const auto refused = rig.pos->Post(kAuthorize, body, "application/json");
    EXPECT_EQ(refused->status, 502) << refused->body;
    EXPECT_NE(json::parse(refused->body).value("detail", "").find("price"), std::string::npos)
        << refused->body;
  }
  EXPECT_EQ(frames(), before) << "an authorization went out with prices the pump may not hold";
  EXPECT_TRUE(CompletedFills(*rig.pos).empty());

  rig.Line().ClearFaults(1);
  ASSERT_EQ(rig.pos->Post(kAuthorize, R"({"grade":1})", "application/json")->status, 200);
  const json fill = rig.OnlyFill();
  const auto sales = rig.Line().Snapshot(1).sales;
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_EQ(sales.front().price, 5555);
  EXPECT_EQ(Difference(fill, sales.front()), "");
}

}  // namespace
}  // namespace quorlan::service_test
