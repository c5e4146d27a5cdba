// SPDX-License-Identifier: Apache-2.0
// The fill query's parameters, and the condition it becomes.

#include <gtest/gtest.h>

#include "station/model/FillQuery.h"

namespace quorlan::station {
namespace {

using Parameters = std::multimap<std::string, std::string>;

const FillStatusWords kWords{{"done"}, {"cancelled"}, {"pending", "open"}};

FillQuery Parsed(const Parameters& parameters) {
  auto result = ParseFillQuery(parameters);
  if (auto* error = std::get_if<FillQueryError>(&result)) {
    ADD_FAILURE() << error->detail;
    return {};
  }
  return std::get<FillQuery>(result);
}

TEST(FillQuery, RefusesEveryMalformedParameterByName) {
  const struct {
    Parameters parameters;
    const char* named;
  } cases[] = {
      {{{"dispensr", "2"}}, "dispensr"},
      {{{"after", "-1"}}, "after"},
      {{{"after", "1x"}}, "after"},
      {{{"limit", "0"}}, "limit"},
      {{{"limit", "1001"}}, "limit"},
      {{{"channel", "33"}}, "channel"},
      {{{"dispenser", ""}}, "dispenser"},
      {{{"grade", "9"}}, "grade"},
      {{{"status", "done"}}, "status"},
      {{{"paid", "1"}}, "paid"},
      {{{"from", "2026-12-07"}}, "from"},
      {{{"from", "2026-12-07T10:00:00"}}, "from"},  // no offset: whose ten o'clock?
      {{{"to", "2026-02-30T10:00:00Z"}}, "to"},
      {{{"to", "2026-12-07T24:00:00Z"}}, "to"},
      {{{"to", "2026-12-07T10:00:00+1:00"}}, "to"},
      {{{"grade", "1"}, {"grade", "2"}}, "grade"},
  };
  for (const auto& c : cases) {
    const auto result = ParseFillQuery(c.parameters);
    const auto* error = std::get_if<FillQueryError>(&result);
    ASSERT_NE(error, nullptr) << c.named;
    EXPECT_EQ(error->parameter, c.named);
    EXPECT_NE(error->detail.find(c.named), std::string::npos) << error->detail;
  }
}

TEST(FillQuery, ReadsEveryParameter) {
  const FillQuery query = Parsed({{"after", "17"},
                                  {"limit", "1000"},
                                  {"channel", "1"},
                                  {"dispenser", "2"},
                                  {"grade", "3"},
                                  {"status", "all"},
                                  {"paid", "false"},
                                  {"from", "2026-12-07T06:00:00+01:00"},
                                  {"to", "2026-12-08T05:00:00.5Z"}});
  EXPECT_EQ(query.after, 17);
  EXPECT_EQ(query.limit, 1000);
  EXPECT_EQ(query.channel, 1);
  EXPECT_EQ(query.dispenser, 2);
  EXPECT_EQ(query.grade, 3);
  EXPECT_EQ(query.status, FillStatusFilter::All);
  EXPECT_EQ(query.paid, false);
  EXPECT_EQ(FormatUtc(*query.from), "2026-12-07T05:00:00.000Z");
  EXPECT_EQ(FormatUtc(*query.to), "2026-12-08T05:00:00.500Z");

  const FillQuery defaults = Parsed({});
  EXPECT_EQ(defaults.after, 0);
  EXPECT_EQ(defaults.limit, kDefaultFillPage);
  EXPECT_EQ(defaults.status, FillStatusFilter::Completed);
}

TEST(FillQuery, TimesAreReadWithTheirOffset) {
  const struct {
    const char* text;
    const char* utc;
  } cases[] = {
      {"2026-12-07T00:30:00-02:30", "2026-12-07T03:00:00.000Z"},
      {"2026-12-07t10:15:02.123456z", "2026-12-07T10:15:02.123Z"},
      {"2026-12-07T10:15:02 01:00", "2026-12-07T09:15:02.000Z"},  // '+' decoded as a space
      {"2024-02-29T23:59:59+00:00", "2024-02-29T23:59:59.000Z"},
  };
  for (const auto& c : cases) {
    const auto instant = ParseRfc3339(c.text);
    ASSERT_TRUE(instant) << c.text;
    EXPECT_EQ(FormatUtc(*instant), c.utc) << c.text;
  }
  for (const char* bad : {"2025-02-29T00:00:00Z", "2026-12-07T10:15:02.Z", "2026-12-07T10:15Z",
                          "2026-12-07T10:15:02Z ", "2026-12-07T10:15:02+24:00"}) {
    EXPECT_FALSE(ParseRfc3339(bad)) << bad;
  }
}

TEST(FillQuery, ConditionBindsEveryValue) {
  const FillQuery query = Parsed({{"after", "5"},
                                  {"dispenser", "2"},
                                  {"paid", "true"},
                                  {"from", "2026-12-07T00:00:00Z"},
                                  {"to", "2026-12-08T00:00:00Z"}});
  const SqlCondition condition = FillCondition(query, kWords);
  EXPECT_EQ(condition.where,
            "id > ? AND status = ? AND dispenser = ? AND paid = ? AND "
            "coalesce(finished_at, authorized_at) >= ? AND "
            "coalesce(finished_at, authorized_at) < ?");
  const std::vector<SqlValue> values{std::int64_t{5},
                                     std::string("done"),
                                     std::int64_t{2},
                                     std::int64_t{1},
                                     std::string("2026-12-07T00:00:00.000Z"),
                                     std::string("2026-12-08T00:00:00.000Z")};
  EXPECT_EQ(condition.values, values);

  const SqlCondition open = FillCondition(Parsed({{"status", "open"}}), kWords);
  EXPECT_EQ(open.where, "id > ? AND status IN (?, ?)");
  EXPECT_EQ(open.values.size(), 3U);
  const SqlCondition all = FillCondition(Parsed({{"status", "all"}}), kWords);
  EXPECT_EQ(all.values.size(), 5U);
}

}  // namespace
}  // namespace quorlan::station
