// SPDX-License-Identifier: Apache-2.0
// A lock that runs out frees its fill for every till, with a fill event, at
// the instant given: no sleeping, no clock but the one passed in.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "station/app/LockLapse.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/model/Settlement.h"

namespace quorlan::station {
namespace {

using namespace std::chrono_literals;

// A completed sale, locked by `till` at `at` when a till is given.
std::int64_t Sale(Store& store, EventHub& hub, const std::string& till, Instant at) {
  FillRecord fill;
  fill.channel = 1;
  fill.dispenser = 1;
  fill.nozzle = 1;
  fill.grade = 1;
  fill.price = 5290;
  fill.authorizedBy = "pos-1";
  fill.authorizedAt = FormatUtc(at - 1min);
  fill.status = FillStatus::Open;
  fill.id = store.fills.Insert(fill);
  fill.volume = 100;
  fill.amount = 5290;
  fill.finishedAt = FormatUtc(at);
  fill.status = FillStatus::Done;
  EXPECT_TRUE(hub.PublishCommitted(
      "fill", "{}", [&](const StoredEvent& event) { return store.fills.End(fill, event); }));
  if (!till.empty()) {
    fill.settlement = Lock(SaleStage::Completed, fill.settlement, till, at).settlement;
    hub.PublishCommitted("fill", "{}", [&](const StoredEvent& event) {
      store.settlement.Write(fill, event);
      return true;
    });
  }
  return fill.id;
}

std::vector<std::int64_t> Ids(const std::vector<FillRecord>& fills) {
  std::vector<std::int64_t> ids;
  for (const FillRecord& fill : fills) ids.push_back(fill.id);
  return ids;
}

TEST(StationLockLapse, FreesEachFillOnceWhenItsLockRunsOutRestartsIncluded) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("lock-lapse-" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "station.db").string();
  const Instant start = *ParseRfc3339("2026-12-07T10:00:00Z");
  std::int64_t early = 0;
  std::int64_t late = 0;
  {
    Store store(path);
    EventHub hub(store.events);
    early = Sale(store, hub, "pos-1", start);
    late = Sale(store, hub, "pos-2", start + 60s);
    Sale(store, hub, "", start);                                 // never locked
    const std::int64_t paid = Sale(store, hub, "pos-1", start);  // a clear releases its lock
    auto fill = store.fills.Shown(paid);
    fill->settlement =
        Clear(SaleStage::Completed, fill->settlement, "pos-1", std::nullopt, start).settlement;
    hub.PublishCommitted("fill", "{}", [&](const StoredEvent& event) {
      store.settlement.Write(*fill, event);
      return true;
    });
    bool lost = false;
    const std::int64_t before = hub.LastId();

    EXPECT_EQ(Ids(ReleaseLapsedLocks(store, hub, start + kLockTime - 1ms)),
              (std::vector<std::int64_t>{}));
    EXPECT_EQ(Ids(ReleaseLapsedLocks(store, hub, start + kLockTime)), (std::vector{early}));
    // Announced once: the lock is gone from the journal too.
    EXPECT_EQ(Ids(ReleaseLapsedLocks(store, hub, start + kLockTime + 1s)),
              (std::vector<std::int64_t>{}));
    const auto events = hub.Wait(before, 0ms, lost);
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].name, "fill");
    const auto data = nlohmann::json::parse(events[0].data);
    EXPECT_EQ(data["id"], early);
    EXPECT_TRUE(data["locked_by"].is_null()) << data;
    EXPECT_TRUE(data["locked_until"].is_null()) << data;
    EXPECT_EQ(data["paid"], false);
    EXPECT_FALSE(store.fills.Shown(early)->settlement.lockedBy);
    EXPECT_EQ(store.fills.Shown(late)->settlement.lockedBy, "pos-2");
  }
  {
    // A restart long after: the lock that lapsed meanwhile is freed then.
    Store store(path);
    EventHub hub(store.events);
    EXPECT_EQ(Ids(ReleaseLapsedLocks(store, hub, start + 1h)), (std::vector{late}));
    EXPECT_EQ(Ids(ReleaseLapsedLocks(store, hub, start + 2h)), (std::vector<std::int64_t>{}));
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorlan::station
