// SPDX-License-Identifier: Apache-2.0
// Who may lock, unlock and clear a fill: every rule as one row of a table.

#include <gtest/gtest.h>

#include "station/model/Settlement.h"

namespace quorlan::station {
namespace {

using namespace std::chrono_literals;

const Instant kNow = Instant{} + 1'000'000s;

Settlement LockedBy(const std::string& who, Instant until) {
  Settlement settlement;
  settlement.lockedBy = who;
  settlement.lockedUntil = until;
  return settlement;
}

Settlement PaidWith(std::optional<std::string> reference) {
  Settlement settlement;
  settlement.paid = true;
  settlement.paidBy = "pos-1";
  settlement.paidAt = kNow - 10s;
  settlement.reference = std::move(reference);
  return settlement;
}

enum class Action { Lock, Unlock, UnlockAsAdmin, Clear, ClearWithReference };

struct Case {
  const char* what;
  Action action;
  SaleStage stage;
  Settlement before;
  std::optional<SettlementRefusal> refusal;
  bool changed;
};

SettlementResult Apply(const Case& c, const std::string& caller) {
  switch (c.action) {
    case Action::Lock:
      return Lock(c.stage, c.before, caller, kNow);
    case Action::Unlock:
      return Unlock(c.before, caller, false, kNow);
    case Action::UnlockAsAdmin:
      return Unlock(c.before, caller, true, kNow);
    case Action::Clear:
      return Clear(c.stage, c.before, caller, std::nullopt, kNow);
    case Action::ClearWithReference:
      return Clear(c.stage, c.before, caller, std::string("R-1"), kNow);
  }
  return {};
}

TEST(Settlement, EveryRuleOfTheTable) {
  const auto completed = SaleStage::Completed;
  const Settlement free;
  const Case cases[] = {
      {"lock a free fill", Action::Lock, completed, free, std::nullopt, true},
      {"lock renews the caller's own lock", Action::Lock, completed, LockedBy("pos-1", kNow + 5s),
       std::nullopt, true},
      {"lock held by another", Action::Lock, completed, LockedBy("pos-2", kNow + 5s),
       SettlementRefusal::LockedByAnother, false},
      {"lock after another's lock expired", Action::Lock, completed, LockedBy("pos-2", kNow),
       std::nullopt, true},
      {"lock a cancelled fill", Action::Lock, SaleStage::Cancelled, free,
       SettlementRefusal::Cancelled, false},
      {"lock a fill still filling", Action::Lock, SaleStage::Open, free,
       SettlementRefusal::NotCompleted, false},
      {"lock a paid fill", Action::Lock, completed, PaidWith(std::nullopt),
       SettlementRefusal::AlreadyPaid, false},
      {"unlock own lock", Action::Unlock, completed, LockedBy("pos-1", kNow + 5s), std::nullopt,
       true},
      {"unlock another's lock", Action::Unlock, completed, LockedBy("pos-2", kNow + 5s),
       SettlementRefusal::LockedByAnother, false},
      {"admin unlocks another's lock", Action::UnlockAsAdmin, completed,
       LockedBy("pos-2", kNow + 5s), std::nullopt, true},
      {"unlock a fill not locked", Action::Unlock, completed, free, std::nullopt, false},
      {"unlock an expired lock of another", Action::Unlock, completed, LockedBy("pos-2", kNow),
       std::nullopt, false},
      {"clear a free fill", Action::Clear, completed, free, std::nullopt, true},
      {"clear under the caller's lock", Action::ClearWithReference, completed,
       LockedBy("pos-1", kNow + 5s), std::nullopt, true},
      {"clear under another's lock", Action::Clear, completed, LockedBy("pos-2", kNow + 5s),
       SettlementRefusal::LockedByAnother, false},
      {"clear under another's expired lock", Action::Clear, completed, LockedBy("pos-2", kNow),
       std::nullopt, true},
      {"clear a cancelled fill", Action::Clear, SaleStage::Cancelled, free,
       SettlementRefusal::Cancelled, false},
      {"clear an open fill", Action::Clear, SaleStage::Open, free, SettlementRefusal::NotCompleted,
       false},
      {"clear again with the same reference", Action::ClearWithReference, completed,
       PaidWith("R-1"), std::nullopt, false},
      {"clear again, no reference either time", Action::Clear, completed, PaidWith(std::nullopt),
       std::nullopt, false},
      {"clear again with another reference", Action::ClearWithReference, completed, PaidWith("R-0"),
       SettlementRefusal::PaidWithAnotherReference, false},
      {"clear without reference a fill paid with one", Action::Clear, completed, PaidWith("R-0"),
       SettlementRefusal::PaidWithAnotherReference, false},
  };
  for (const Case& c : cases) {
    const SettlementResult result = Apply(c, "pos-1");
    EXPECT_EQ(result.refusal, c.refusal) << c.what;
    EXPECT_EQ(result.changed, c.changed) << c.what;
    if (result.refusal || !result.changed) {
      // A refusal or a repeat writes nothing: the fill stays as it was.
      EXPECT_EQ(result.settlement, Current(c.before, kNow)) << c.what;
    }
  }
}

TEST(Settlement, LockHoldsForItsTimeThenLapses) {
  const auto locked = Lock(SaleStage::Completed, {}, "pos-1", kNow);
  ASSERT_TRUE(locked.changed);
  EXPECT_EQ(locked.settlement.lockedUntil, kNow + kLockTime);
  EXPECT_EQ(LockHolder(locked.settlement, kNow + kLockTime - 1ms), "pos-1");
  EXPECT_EQ(LockHolder(locked.settlement, kNow + kLockTime), std::nullopt);
  const auto other = Lock(SaleStage::Completed, locked.settlement, "pos-2", kNow + kLockTime);
  EXPECT_EQ(other.settlement.lockedBy, "pos-2");
}

TEST(Settlement, ClearRecordsWhoWhenAndReleasesTheLock) {
  const auto locked = Lock(SaleStage::Completed, {}, "pos-1", kNow).settlement;
  const auto cleared = Clear(SaleStage::Completed, locked, "pos-1", "R-7", kNow + 3s);
  ASSERT_TRUE(cleared.changed);
  EXPECT_TRUE(cleared.settlement.paid);
  EXPECT_EQ(cleared.settlement.paidBy, "pos-1");
  EXPECT_EQ(cleared.settlement.paidAt, kNow + 3s);
  EXPECT_EQ(cleared.settlement.reference, "R-7");
  EXPECT_EQ(cleared.settlement.lockedBy, std::nullopt);
  EXPECT_EQ(cleared.settlement.lockedUntil, std::nullopt);
}

TEST(Settlement, ReferenceIsOneToSixtyFourPrintableCharacters) {
  EXPECT_TRUE(ValidReference("R"));
  EXPECT_TRUE(ValidReference(std::string(64, 'x')));
  EXPECT_TRUE(ValidReference(std::string(64, 'x').replace(0, 1, "\xc3\xbc")));  // 64 characters
  EXPECT_FALSE(ValidReference(""));
  EXPECT_FALSE(ValidReference(std::string(65, 'x')));
  EXPECT_FALSE(ValidReference("line\nbreak"));
  EXPECT_FALSE(ValidReference(std::string("nul\0byte", 8)));
}

}  // namespace
}  // namespace quorlan::station
