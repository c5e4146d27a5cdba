// SPDX-License-Identifier: Apache-2.0
// The event log while a money event's transaction runs: passing events do
// not wait behind it, and no reader sees them ahead of it.

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>

#include "station/events/EventHub.h"
#include "station/journal/Store.h"

namespace quorlan::station {
namespace {

TEST(EventHub, APassingEventNeitherWaitsForNorOvertakesACommit) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("event-hub-" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  {
    Store store((folder / "station.db").string());
    EventHub hub(store.events);
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    auto committed = std::async(std::launch::async, [&] {
      return hub.PublishCommitted("fill", "{}", [&](const StoredEvent&) {
        entered.set_value();
        released.wait();  // a slow fsync
        return true;
      });
    });
    entered.get_future().wait();

    auto passing = std::async(std::launch::async, [&] { return hub.Publish("dispenser", "{}"); });
    ASSERT_EQ(passing.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "a passing event waited behind the commit";
    const std::int64_t passingId = passing.get();
    bool lost = false;
    EXPECT_TRUE(hub.Wait(0, std::chrono::milliseconds(0), lost).empty())
        << "an event was seen ahead of the commit below it";
    EXPECT_LT(hub.LastId(), passingId);

    release.set_value();
    ASSERT_TRUE(committed.get());
    const auto events = hub.Wait(0, std::chrono::milliseconds(0), lost);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "fill");
    EXPECT_EQ(events[1].id, passingId);
    EXPECT_LT(events[0].id, events[1].id);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorlan::station
