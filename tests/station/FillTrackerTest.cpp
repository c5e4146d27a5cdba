// SPDX-License-Identifier: Apache-2.0
// The fills' life on its own: a simulated line, a real journal and event
// log, and the tracker driven by the readings a worker would hand it.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "sim/SimDispatcher.h"
#include "station/base/Clock.h"
#include "station/format/EventData.h"
#include "station/line/FillTracker.h"

namespace quorlan::station {
namespace {

constexpr int kChannel = 1;
constexpr int kDispenser = 1;

class FillTrackerTest : public ::testing::Test {
 protected:
  FillTrackerTest() {
    folder_ = std::filesystem::temp_directory_path() /
              ("fill-tracker-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    store_ = std::make_unique<Store>((folder_ / "station.db").string());
    hub_ = std::make_unique<EventHub>(store_->events);
    sim::LineOptions options;
    options.clock = {};  // a fill moves only by polls
    options.volumePerPoll = 0.5;
    line_ = std::make_shared<sim::Line>(options);
    dispatcher_.Attach(kChannel, line_);
    driver_ = std::make_unique<Driver>(dispatcher_);
    driver_->OpenLine(kChannel);
    for (Grade g = 1; g <= kTableGrades; ++g) driver_->SetPrice(kChannel, kDispenser, g, 50 + g);
    driver_->DownloadPrices(kChannel, kDispenser);
    prices_ = std::make_unique<PriceSync>(*driver_, gate_, *store_, kChannel,
                                          std::vector<int>{kDispenser});
    tracker_ = NewTracker();
  }
  ~FillTrackerTest() override { std::filesystem::remove_all(folder_); }

  std::unique_ptr<FillTracker> NewTracker() {
    return std::make_unique<FillTracker>(*driver_, gate_, *store_, *hub_, *prices_, kChannel,
                                         std::vector<int>{kDispenser});
  }

  // One poll handed to the tracker, as the worker does.
  FillTracker::Change Poll(FillTracker& tracker) {
    const Status status = driver_->Poll(kChannel, kDispenser);
    return tracker.Track(kDispenser, status, RoundCents(status.volume), RoundCents(status.amount));
  }

  std::int64_t Authorize(FillTracker& tracker, int grade) {
    FillRecord fill;
    fill.channel = kChannel;
    fill.dispenser = kDispenser;
    fill.grade = grade;
    fill.price = (50 + grade) * 100;
    fill.authorizedBy = "pos";
    fill.authorizedAt = NowUtc();
    const std::int64_t id = tracker.Begin(fill).id;
    driver_->Authorize(kChannel, kDispenser, static_cast<Grade>(grade), Limit::None());
    tracker.Acknowledge(kDispenser);
    return id;
  }

  std::vector<StoredEvent> FillEvents() {
    bool lost = false;
    std::vector<StoredEvent> fills;
    for (auto& event : hub_->Wait(0, std::chrono::milliseconds(0), lost)) {
      if (event.name == kFillEvent) fills.push_back(event);
    }
    return fills;
  }

  std::filesystem::path folder_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<EventHub> hub_;
  std::shared_ptr<sim::Line> line_;
  sim::SimDispatcher dispatcher_;
  std::unique_ptr<Driver> driver_;
  LineGate gate_;
  std::unique_ptr<PriceSync> prices_;
  std::unique_ptr<FillTracker> tracker_;
};

TEST_F(FillTrackerTest, AnAuthorizedFillEndsWithItsReadoutAndOneEvent) {
  const std::int64_t id = Authorize(*tracker_, 2);
  ASSERT_TRUE(line_->Lift(kDispenser, 2));
  // The nozzle and the fuel are news once, stored at once.
  EXPECT_EQ(Poll(*tracker_), FillTracker::Change::Changed);
  EXPECT_EQ(store_->fills.Shown(id)->nozzle, 2);
  EXPECT_EQ(Poll(*tracker_), FillTracker::Change::None);
  line_->Hang(kDispenser);
  EXPECT_EQ(Poll(*tracker_), FillTracker::Change::Ended);
  EXPECT_EQ(tracker_->Open(kDispenser), nullptr);

  const auto fill = store_->fills.Shown(id);
  ASSERT_TRUE(fill);
  EXPECT_EQ(fill->status, FillStatus::Done);
  EXPECT_GT(fill->volume, 0);
  EXPECT_EQ(fill->grade, 2);
  EXPECT_EQ(fill->authorizedBy, "pos");
  EXPECT_FALSE(fill->recovered);
  ASSERT_EQ(FillEvents().size(), 1u);
  // Later readings of the same dispenser end nothing again.
  EXPECT_EQ(Poll(*tracker_), FillTracker::Change::None);
  EXPECT_EQ(FillEvents().size(), 1u);
}

// The dispenser sells at 52.00 what the service believes is 60.00: the fill
// is journaled as read, marked, and an alarm says so.
TEST_F(FillTrackerTest, AnAmountThatIsNotPriceTimesVolumeIsKeptAsReadWithAnAlarm) {
  driver_->SetPrice(kChannel, kDispenser, 2, 60);
  const std::int64_t id = Authorize(*tracker_, 2);
  ASSERT_TRUE(line_->Lift(kDispenser, 2));
  Poll(*tracker_);
  Poll(*tracker_);
  line_->Hang(kDispenser);
  ASSERT_EQ(Poll(*tracker_), FillTracker::Change::Ended);
  const auto fill = store_->fills.Shown(id);
  ASSERT_TRUE(fill);
  EXPECT_TRUE(fill->mismatch);
  EXPECT_EQ(fill->price, 6000);
  EXPECT_EQ(fill->amount, line_->Snapshot(kDispenser).sales.back().amount);
  bool lost = false;
  std::size_t alarms = 0;
  for (auto& event : hub_->Wait(0, std::chrono::milliseconds(0), lost)) {
    if (event.name == kAlarmEvent && event.data.find("mismatch") != std::string::npos) ++alarms;
  }
  EXPECT_EQ(alarms, 1u);
}

TEST_F(FillTrackerTest, AnAuthorizationTheDispenserNeverSawLeavesNoRow) {
  FillRecord fill;
  fill.channel = kChannel;
  fill.dispenser = kDispenser;
  fill.grade = 1;
  fill.authorizedBy = "pos";
  fill.authorizedAt = NowUtc();
  const std::int64_t id = tracker_->Begin(fill).id;
  EXPECT_EQ(Poll(*tracker_), FillTracker::Change::Ended);  // idle, the display as it was
  EXPECT_FALSE(store_->fills.Shown(id));
  EXPECT_TRUE(FillEvents().empty());
}

TEST_F(FillTrackerTest, FuelNobodyAuthorizedIsJournaledAtTheNozzlesGrade) {
  driver_->Authorize(kChannel, kDispenser, 3, Limit::None());  // past the service
  ASSERT_TRUE(line_->Lift(kDispenser, 3));
  EXPECT_EQ(Poll(*tracker_), FillTracker::Change::Opened);
  const FillRecord* open = tracker_->Open(kDispenser);
  ASSERT_NE(open, nullptr);
  const std::int64_t id = open->id;
  EXPECT_FALSE(open->authorizedBy);
  line_->Hang(kDispenser);
  EXPECT_EQ(Poll(*tracker_), FillTracker::Change::Ended);
  const auto fill = store_->fills.Shown(id);
  ASSERT_TRUE(fill);
  EXPECT_EQ(fill->grade, 3);
  EXPECT_EQ(fill->price, 5300);  // the book's 53.00
}

TEST_F(FillTrackerTest, ARowLeftOpenIsSettledByTheNextRunAsRecovered) {
  const std::int64_t id = Authorize(*tracker_, 1);
  ASSERT_TRUE(line_->Lift(kDispenser, 1));
  Poll(*tracker_);
  // The service stops here; the next run finds the row open.
  auto next = NewTracker();
  EXPECT_EQ(next->Reconcile(), std::vector<int>{kDispenser});
  line_->Hang(kDispenser);
  EXPECT_EQ(Poll(*next), FillTracker::Change::Ended);
  const auto fill = store_->fills.Shown(id);
  ASSERT_TRUE(fill);
  EXPECT_EQ(fill->status, FillStatus::Done);
  EXPECT_TRUE(fill->recovered);
}

}  // namespace
}  // namespace quorlan::station
