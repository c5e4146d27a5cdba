// A transport thread and a control thread sharing lines, as `quorlan sim`
// (pty server plus nozzle events from stdin) and multi-channel hosts do.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SimTestSupport.h"
#include "sim/PtyServer.h"

namespace quorlan::sim::testing {
namespace {

constexpr int kRounds = 200;

TEST(ConcurrentUse, NozzleEventsDuringPollsKeepEveryReplyWhole) {
  DriverOnSim sim({.dispensers = 2, .flowRate = 1.0, .clock = {}, .startWithoutPrices = false});
  std::atomic<bool> done{false};
  std::thread customer([&] {
    for (int i = 0; !done; ++i) {
      sim.line->Lift(1 + i % 2, 1 + i % 8);
      sim.line->Advance(0.01);
      sim.line->Snapshot(1 + i % 2);
      sim.line->Hang(1 + i % 2);
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    try {
      sim.driver.Authorize(1, 1 + i % 2, 1, 0);
    } catch (const ESerialIO&) {
      // refused: the customer's fill is running
    }
    const auto code = sim.Poll(std::uint8_t(1 + i % 2));
    EXPECT_NE(code, 0) << i;  // every status reply arrived whole
  }
  done = true;
  customer.join();
}

TEST(ConcurrentUse, ChannelsOfOneDispatcherWorkFromTheirOwnThreads) {
  SimDispatcher port;
  quorlan::testing::MemoryLogPlatform platform;
  Logger logger(platform);
  std::vector<std::thread> hosts;
  std::array<double, 3> volumes{};
  for (int channel = 1; channel <= 2; ++channel) {
    port.Attach(channel, std::make_shared<Line>(LineOptions{.dispensers = 1,
                                                            .volumePerPoll = 0.01,
                                                            .clock = {},
                                                            .autoNozzle = true,
                                                            .startWithoutPrices = false}));
    hosts.emplace_back([&, channel] {
      TVM30 driver(port, 0, logger);
      driver.OpenChannel(channel);
      driver.SetVolumePreset(channel, 1, 0, 0, 1.0);
      driver.Start(channel, 1, 1);
      for (int i = 0; i < kRounds; ++i) driver.PollStatus(channel, 1);
      double amount = 0;
      volumes[std::size_t(channel)] = driver.ReadTransaction(channel, 1, amount);
    });
  }
  for (auto& host : hosts) host.join();
  EXPECT_DOUBLE_EQ(volumes[1], 1.0);
  EXPECT_DOUBLE_EQ(volumes[2], 1.0);
}

TEST(ConcurrentUse, PtyServerStartsAndStopsRepeatedly) {
  auto line = std::make_shared<Line>(StillLine());
  for (int i = 0; i < 20; ++i) {
    PtyServer server(line);
    server.Start();
    if (i % 2 == 0) server.Stop();
  }
}

}  // namespace
}  // namespace quorlan::sim::testing
