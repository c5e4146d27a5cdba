// SPDX-License-Identifier: Apache-2.0
// A filling dispenser's progress reaches the event stream at most once a
// window, its last figures always; anything a client acts on goes at once.

#include <gtest/gtest.h>

#include "station/line/ProgressCoalescer.h"

namespace quorlan::station {
namespace {

using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

class ProgressCoalescerTest : public ::testing::Test {
 protected:
  DispenserView Filling(int dispenser, Cents volume) {
    DispenserView view;
    view.channel = 1;
    view.dispenser = dispenser;
    view.state = DispenserState::Filling;
    view.nozzle = 1;
    view.volume = volume;
    view.amount = volume * 2;
    return view;
  }

  Time now_{};
  ProgressCoalescer coalescer_{100ms, [this] { return now_; }};
};

TEST_F(ProgressCoalescerTest, HoldsProgressWithinTheWindowAndSendsTheLastWhenItEnds) {
  ASSERT_TRUE(coalescer_.Offer(Filling(1, 10)));
  for (Cents volume = 11; volume <= 19; ++volume) {
    now_ += 10ms;
    EXPECT_FALSE(coalescer_.Offer(Filling(1, volume))) << volume;
  }
  EXPECT_TRUE(coalescer_.Due().empty()) << "the window has not ended";
  now_ += 10ms;
  const auto due = coalescer_.Due();
  ASSERT_EQ(due.size(), 1U);
  EXPECT_EQ(due[0].volume, 19);
  EXPECT_EQ(due[0].amount, 38);
  EXPECT_TRUE(coalescer_.Due().empty()) << "sent once";
  // The window runs from the trailing one.
  now_ += 50ms;
  EXPECT_FALSE(coalescer_.Offer(Filling(1, 20)));
  now_ += 50ms;
  EXPECT_TRUE(coalescer_.Offer(Filling(1, 21))) << "a window after the last one sent";
}

TEST_F(ProgressCoalescerTest, ChangesAClientActsOnGoAtOnce) {
  struct Case {
    const char* what;
    void (*change)(DispenserView&);
  };
  const Case cases[] = {
      {"state", [](DispenserView& v) { v.state = DispenserState::Stopped; }},
      {"nozzle", [](DispenserView& v) { v.nozzle = 2; }},
      {"link", [](DispenserView& v) { v.link = Link::NoReply; }},
      {"fill",
       [](DispenserView& v) {
         OpenFill fill;
         fill.id = 7;
         v.fill = fill;
       }},
      {"unpaid", [](DispenserView& v) { v.unpaid = 1; }},
      {"code", [](DispenserView& v) { v.code = 3; }},
  };
  int dispenser = 0;
  for (const Case& c : cases) {
    ++dispenser;
    ASSERT_TRUE(coalescer_.Offer(Filling(dispenser, 10)));
    now_ += 1ms;
    EXPECT_FALSE(coalescer_.Offer(Filling(dispenser, 11))) << c.what;
    DispenserView changed = Filling(dispenser, 12);
    c.change(changed);
    const auto sent = coalescer_.Offer(changed);
    ASSERT_TRUE(sent) << c.what;
    EXPECT_EQ(sent->volume, 12) << c.what << ": the latest figures ride along";
    now_ += 200ms;
    EXPECT_TRUE(coalescer_.Due().empty()) << c.what << ": the held progress is superseded";
  }
}

TEST_F(ProgressCoalescerTest, EachDispenserHasItsOwnWindow) {
  ASSERT_TRUE(coalescer_.Offer(Filling(1, 10)));
  ASSERT_TRUE(coalescer_.Offer(Filling(2, 10)));
  now_ += 60ms;
  EXPECT_FALSE(coalescer_.Offer(Filling(1, 11)));
  EXPECT_FALSE(coalescer_.Offer(Filling(2, 11)));
  now_ += 40ms;
  EXPECT_EQ(coalescer_.Due().size(), 2U);
  // Nothing is held once they went.
  now_ += 100ms;
  EXPECT_TRUE(coalescer_.Due().empty());
}

}  // namespace
}  // namespace quorlan::station
