// SPDX-License-Identifier: Apache-2.0
// The page refuses prices and limits before it asks; its ranges must be the
// service's, or a value would pass one and fail the other.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "quorlan/Driver.h"
#include "web/Assets.h"

namespace quorlan::station {
namespace {

std::string Decimal(std::int64_t hundredths) {
  const auto cents = hundredths % 100;
  return std::to_string(hundredths / 100) + (cents < 10 ? ".0" : ".") + std::to_string(cents);
}

TEST(DashboardLimits, ThePageChecksTheServiceRanges) {
  const web::Asset* limits = web::FindAsset("/js/limits.js");
  ASSERT_NE(limits, nullptr);
  const struct {
    std::string_view name;
    std::int64_t hundredths;
  } cases[] = {
      {"kLowestPrice", kLowestPrice},
      {"kHighestPrice", kHighestPrice},
      {"kLowestLimit", kLowestLimit},
      {"kHighestLimit", kHighestLimit},
  };
  for (const auto& c : cases) {
    const std::string line =
        "export const " + std::string(c.name) + " = " + Decimal(c.hundredths) + ";\n";
    EXPECT_NE(limits->body.find(line), std::string_view::npos) << line;
  }
  const std::string grades = "export const kLastGrade = " + std::to_string(kLastGrade) + ";\n";
  EXPECT_NE(limits->body.find(grades), std::string_view::npos) << grades;
}

}  // namespace
}  // namespace quorlan::station
