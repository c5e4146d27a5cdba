// SPDX-License-Identifier: Apache-2.0
// Request bodies: malformed JSON is placed by line and column, a key given
// twice is refused, and a number is judged by its text, never by the double
// it rounds to.

#include <gtest/gtest.h>

#include <cmath>

#include "station/base/Money.h"
#include "station/format/JsonInput.h"

namespace quorlan::testing {
namespace {

using station::ExactCents;
using station::InputError;
using station::ParseRequestBody;

TEST(JsonInput, BadBodiesAreRefusedWithTheirPlace) {
  struct Case {
    const char* body;
    const char* detail;
  };
  const Case cases[] = {
      {R"({"grade":1)", "malformed JSON at line 1, column 11"},
      {"{\n  \"grade\": 1,\n  \"volume\": 5.\n}", "malformed JSON at line 3, column 15"},
      {"{\"grade\":1}\n]", "malformed JSON at line 2, column 1"},
      {"{\"n\u00e4me\":x}", "malformed JSON at line 1, column 9"},
      {"{\"grade\":1,\"x\xff\":1}", "malformed JSON at line 1, column 14"},
      {"", "the body is empty; JSON is expected"},
      {" \r\n", "the body is empty; JSON is expected"},
      {R"({"grade":1,"grade":2})", "the key 'grade' is given twice in one object"},
      {R"([{"price":5},{"price":5,"grade":1,"price":6}])",
       "the key 'price' is given twice in one object"},
      {R"({"a":{"b":1,"b":1}})", "the key 'b' is given twice in one object"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    try {
      ParseRequestBody(c.body);
      ADD_FAILURE() << "taken";
    } catch (const InputError& error) {
      EXPECT_STREQ(error.what(), c.detail);
    }
  }
}

TEST(JsonInput, MoneyIsReadFromTheNumbersText) {
  struct Case {
    const char* number;
    std::optional<station::Cents> cents;  // nullopt: refused as finer than hundredths
  };
  const Case cases[] = {
      {"52.9", 5290},
      {"52.90", 5290},
      {"5.000", 500},
      {"0.01", 1},
      {"9999.99", 999999},
      {"1.25e1", 1250},
      {"1250e-2", 1250},
      {"-1.5", -150},
      {"5", 500},
      {"4999.995", std::nullopt},
      {"9999.985", std::nullopt},
      {"52.899999999", std::nullopt},
      {"52.9000000000000001", std::nullopt},  // the same double as 52.9
      {"1.005", std::nullopt},
      {"1e-3", std::nullopt},
      {"0.0001e2", 1},
      {"1e-99999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    const auto body = ParseRequestBody(std::string(R"({"volume":)") + c.number + "}");
    const auto& value = body.at("volume");
    ASSERT_TRUE(value.is_number());
    EXPECT_EQ(ExactCents(value.get<double>()), c.cents);
  }
  // The same judgement on doubles, for values that never were text.
  EXPECT_EQ(ExactCents(9999.985), std::nullopt);
  EXPECT_EQ(ExactCents(52.899999999), std::nullopt);
  EXPECT_EQ(ExactCents(9999.99), 999999);
  EXPECT_EQ(ExactCents(0.1 + 0.2), 30);
}

TEST(JsonInput, AFinerNumberIsNeverAnInteger) {
  const auto body = ParseRequestBody(R"({"grade":1.005,"channel":1,"big":123456789012345678901})");
  EXPECT_FALSE(body.at("grade").is_number_integer());
  EXPECT_TRUE(body.at("channel").is_number_integer());
  EXPECT_FALSE(body.at("big").is_number_integer());
}

}  // namespace
}  // namespace quorlan::testing
