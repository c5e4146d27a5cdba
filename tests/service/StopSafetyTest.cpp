// SPDX-License-Identifier: Apache-2.0
// A stop is a stop: authorizations queued for a dispenser when a stop for
// it arrives are cancelled (409 `stopped`) and never reach the line, also
// when a slow exchange holds the line's worker; the emergency stop does so
// for the whole station, a single stop only for its dispenser.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

constexpr int kDispensers = 4;
constexpr int kSlowDispenser = 4;
constexpr int kNozzles = 4;  // a line's nozzles when its configuration names none
// Slow totals readouts queued ahead: the worker is busy with them for
// seconds, however loaded the machine, while the test queues behind them.
constexpr int kSlowReads = 16;

std::uint64_t AuthorizeFrames(sim::Line& line) {
  return line.Count(sim::Request::Authorize) + line.Count(sim::Request::PresetAuthorize);
}

// Commands waiting on line 1 (the one running excluded).
int Queued(httplib::Client& client) {
  const auto answer = client.Get("/api/v1/health");
  if (!answer) return -1;
  const json lines = json::parse(answer->body)["lines"];
  return lines.empty() || !lines[0].contains("queued") ? -1 : lines[0]["queued"].get<int>();
}

struct Answer {
  int status = 0;
  std::string detail;
};

Answer Send(const Service& service, const std::string& path, const std::string& body,
            bool get = false) {
  auto client = service.Client("operate");
  const auto answer = get ? client->Get(path) : client->Post(path, body, "application/json");
  if (!answer) return {};
  const json parsed = json::parse(answer->body, nullptr, false);
  return {answer->status, parsed.is_object() && parsed.contains("detail")
                              ? parsed["detail"].get<std::string>()
                              : std::string()};
}

struct StopCase {
  const char* name;
  const char* stop;  // the stop's route
  std::vector<int> authorized;
  std::vector<int> cancelled;  // those the stop must cancel
};

class StopBehindAQueue : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopBehindAQueue, CancelsTheQueuedAuthorizationsOfItsDispensers) {
  const StopCase& c = GetParam();
  TempFolder dir;
  SimLines lines(dir.Path(), 1, kDispensers, 2);
  Service service(dir, WriteConfig(dir, &lines));
  SeedPrices(*service.Client("admin"), 1, kDispensers);
  auto watcher = service.Client("view");
  ASSERT_TRUE(WaitFor([&] {
    for (int d = 1; d <= kDispensers; ++d) {
      if (View(*watcher, 1, d)["state"] != "idle") return false;
    }
    return true;
  }));

  sim::Line& line = lines.Line(1);
  // The first shift opens with every nozzle's totals, read once the
  // dispensers answer: the queue holds only this test's commands after that.
  ASSERT_TRUE(WaitFor([&] {
    return line.Count(sim::Request::Totals) >= std::uint64_t(kDispensers * kNozzles) &&
           Queued(*watcher) == 0;
  }));
  sim::Fault slow;
  slow.kind = sim::FaultKind::LateReply;
  slow.persistent = true;
  slow.delay = std::chrono::milliseconds(300);
  line.InjectFault(kSlowDispenser, sim::Request::Totals, slow);
  const std::string totals = "/api/v1/dispensers/1/" + std::to_string(kSlowDispenser) + "/totals/1";
  std::vector<std::future<Answer>> reads;
  for (int i = 0; i < kSlowReads; ++i) {
    reads.push_back(
        std::async(std::launch::async, [&] { return Send(service, totals, "", true); }));
  }
  // Commands queued plus reads answered: one read may be on the line, in
  // neither. (The line's own count of totals requests would also count a
  // read sent again after a late reply.)
  const auto answered = [&] {
    return int(std::count_if(reads.begin(), reads.end(), [](const auto& read) {
      return read.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }));
  };
  const auto readsSeen = [&] { return Queued(*watcher) + answered() + 1; };
  // Every read is queued or done before the authorizations come.
  ASSERT_TRUE(WaitFor([&] { return readsSeen() >= kSlowReads; }));

  const std::uint64_t framesBefore = AuthorizeFrames(line);
  std::map<int, std::future<Answer>> authorizations;
  for (int d : c.authorized) {
    authorizations[d] = std::async(std::launch::async, [&, d] {
      return Send(service, "/api/v1/dispensers/1/" + std::to_string(d) + "/authorize",
                  R"({"grade":1,"volume":2.00})");
    });
  }
  ASSERT_TRUE(WaitFor([&] { return readsSeen() >= kSlowReads + int(c.authorized.size()); }));
  ASSERT_LT(answered(), kSlowReads)
      << "the slow reads ended before the stop: the machine is too slow for this test";

  const Answer stop = Send(service, c.stop, "");
  ASSERT_EQ(stop.status, 200) << stop.detail;
  const std::uint64_t framesAtStop = AuthorizeFrames(line);
  EXPECT_EQ(framesAtStop, framesBefore) << "an authorization went out before the stop";

  for (int d : c.authorized) {
    SCOPED_TRACE("dispenser " + std::to_string(d));
    const Answer answer = authorizations[d].get();
    const bool cancelled =
        std::find(c.cancelled.begin(), c.cancelled.end(), d) != c.cancelled.end();
    if (cancelled) {
      EXPECT_EQ(answer.status, 409) << answer.detail;
      EXPECT_NE(answer.detail.find("stopped"), std::string::npos) << answer.detail;
    } else {
      EXPECT_EQ(answer.status, 200) << answer.detail;
    }
  }
  for (auto& read : reads) read.get();
  // Nothing queued before the stop reached the line after it but what it
  // spared: a cancelled dispenser never held an authorization. (Frames are
  // not counted: a loaded line may send one authorization twice.)
  for (int d : c.authorized) {
    const bool cancelled =
        std::find(c.cancelled.begin(), c.cancelled.end(), d) != c.cancelled.end();
    EXPECT_EQ(line.Snapshot(d).authorization.has_value(), !cancelled) << "dispenser " << d;
  }
  EXPECT_EQ(service.Terminate(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StopBehindAQueue,
    ::testing::Values(StopCase{"emergency", "/api/v1/stop", {1, 2, 3}, {1, 2, 3}},
                      StopCase{"single", "/api/v1/dispensers/1/1/stop", {1, 2}, {1}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorlan::service_test
