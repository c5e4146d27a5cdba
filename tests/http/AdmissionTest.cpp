// SPDX-License-Identifier: Apache-2.0
// Connection slots: admitted, refused with an answer, or dropped in a flood,
// and every kind given back when its connection ends.

#include <gtest/gtest.h>

#include <iterator>
#include <list>

#include "station/http/Admission.h"

namespace quorlan::http::test {
namespace {

enum class Kind { Admitted, Refused, Dropped };

struct Step {
  const char* client;
  Kind expected;
};

TEST(Admission, PastALimitAConnectionIsRefusedAndPastTheRefusalsDropped) {
  // 3 in all, 2 per client, 1 refusal at a time.
  Admission admission(3, 2, 1);
  const Step steps[] = {
      {"a", Kind::Admitted}, {"a", Kind::Admitted}, {"a", Kind::Refused},
      {"a", Kind::Dropped},  {"b", Kind::Admitted}, {"c", Kind::Dropped},
  };
  std::list<Admission::Slot> held;  // a slot cannot be moved over another
  for (const auto& step : steps) {
    auto slot = admission.Enter(step.client);
    const Kind kind = !slot ? Kind::Dropped : slot->Admitted() ? Kind::Admitted : Kind::Refused;
    EXPECT_EQ(kind, step.expected) << step.client << " after " << held.size();
    if (slot) held.push_back(std::move(*slot));
  }
  EXPECT_EQ(admission.Open(), 3u);
  EXPECT_EQ(admission.Rejected(), 3u);
  EXPECT_EQ(admission.Dropped(), 2u);

  // The refusal's end frees the refusal, not a connection.
  held.erase(std::next(held.begin(), 2));
  EXPECT_EQ(admission.Open(), 3u);
  auto refused = admission.Enter("c");
  ASSERT_TRUE(refused);
  EXPECT_FALSE(refused->Admitted());
  // An admitted connection's end frees its client's slot and one in all.
  held.erase(held.begin());
  EXPECT_EQ(admission.Open(), 2u);
  auto again = admission.Enter("a");
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->Admitted());
  EXPECT_EQ(admission.Open(), 3u);
}

}  // namespace
}  // namespace quorlan::http::test
