// SPDX-License-Identifier: Apache-2.0
// The Date header's one form, whatever the day.

#include <gtest/gtest.h>

#include <chrono>

#include "station/http/Message.h"

namespace quorlan::http::test {
namespace {

TEST(Message, DatesAreWrittenInTheOneFormHttpTakes) {
  struct Case {
    long long seconds;  // since 1970, UTC
    const char* text;
  };
  const Case cases[] = {
      {0, "Thu, 01 Jan 1970 00:00:00 GMT"},          {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
      {951868799, "Tue, 29 Feb 2000 23:59:59 GMT"},  {1709251200, "Fri, 01 Mar 2024 00:00:00 GMT"},
      {4102444799, "Thu, 31 Dec 2099 23:59:59 GMT"},
  };
  for (const auto& test : cases) {
    const std::chrono::system_clock::time_point when{std::chrono::seconds(test.seconds)};
    EXPECT_EQ(HttpDate(when + std::chrono::milliseconds(999)), test.text);
  }
}

}  // namespace
}  // namespace quorlan::http::test
