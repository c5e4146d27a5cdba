// SPDX-License-Identifier: Apache-2.0
// GET /metrics after a fill: every family is there, in the Prometheus text
// format, and the counts of the work done moved.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <sstream>

#include "ServiceFixture.h"

namespace quorlan::testing {
namespace {

using nlohmann::json;

// Sample lines by their name and labels, e.g. `quorlan_polls_total`.
std::map<std::string, double> Samples(const std::string& text) {
  std::map<std::string, double> samples;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto space = line.rfind(' ');
    samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return samples;
}

TEST(StationMetrics, CountTheWorkOfAFill) {
  ServiceFixture station({.dispensers = 1, .flowRate = 4, .autoNozzle = true});
  station.StartService();
  ASSERT_EQ(station
                .Call("PUT", "/api/v1/prices", kAdminSecret,
                      R"([{"channel":1,"dispenser":1,"grade":1,"price":52.90}])")
                .status,
            200);
  station.WaitFor("/api/v1/dispensers/1/1",
                  [](const json& view) { return view["state"] == "idle"; });
  const Reply authorized = station.Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret,
                                        R"({"grade":1,"volume":1.00})");
  ASSERT_EQ(authorized.status, 200) << authorized.text;
  const std::string fill = "/api/v1/fills/" + std::to_string(authorized.body["fill_id"].get<int>());
  station.WaitFor(fill, [](const json& body) { return !body["finished_at"].is_null(); });

  EXPECT_EQ(station.Call("GET", "/metrics", "not-a-token").status, 401);
  const Reply scraped = station.Get("/metrics");
  ASSERT_EQ(scraped.status, 200);
  EXPECT_EQ(scraped.contentType.rfind("text/plain", 0), 0U) << scraped.contentType;
  for (const std::string family :
       {"quorlan_line_up gauge", "quorlan_polls_total counter",
        "quorlan_link_failures_total counter", "quorlan_poll_interval_seconds histogram",
        "quorlan_fills_total counter", "quorlan_events_total counter",
        "quorlan_event_streams gauge", "quorlan_http_requests_total counter",
        "quorlan_journal_commit_seconds histogram"}) {
    EXPECT_NE(scraped.text.find("# TYPE " + family + "\n"), std::string::npos) << family;
  }
  auto samples = Samples(scraped.text);
  EXPECT_EQ(samples[R"(quorlan_line_up{channel="1"})"], 1);
  EXPECT_GT(samples["quorlan_polls_total"], 0);
  EXPECT_GE(samples[R"(quorlan_fills_total{status="completed"})"], 1);
  EXPECT_GT(samples["quorlan_events_total"], 0);
  EXPECT_GT(samples["quorlan_journal_commit_seconds_count"], 0);
  EXPECT_GT(samples[R"(quorlan_poll_interval_seconds_count{state="idle"})"], 0);
  EXPECT_EQ(samples[R"(quorlan_poll_interval_seconds_bucket{state="idle",le="+Inf"})"],
            samples[R"(quorlan_poll_interval_seconds_count{state="idle"})"]);
  // Counted by route, not by path: the id in the path makes no label.
  EXPECT_EQ(
      samples
          [R"(quorlan_http_requests_total{route="/api/v1/dispensers/{c}/{d}/authorize",status="200"})"],
      1);
  EXPECT_GE(samples[R"(quorlan_http_requests_total{route="/api/v1/fills/{id}",status="200"})"], 1);

  // The next scrape sees the first one counted.
  samples = Samples(station.Get("/metrics").text);
  EXPECT_EQ(samples[R"(quorlan_http_requests_total{route="/metrics",status="200"})"], 1);
  EXPECT_EQ(station.StopService(), 0);
}

std::function<bool(const json&)> Link(const std::string& link) {
  return [link](const json& view) { return view["link"] == link; };
}

// A failed exchange now and then is no outage: health stays ok while a
// dispenser has failed for less than `unanswered_after` and degrades once
// it has failed longer. The failures are counted by channel and dispenser,
// beside the process's own figures.
TEST(StationHealth, ADispenserDegradesHealthOnlyOnceItHasFailedLongerThanConfigured) {
  ServiceFixture station({.dispensers = 2});
  station.Configure({.top = "unanswered_after = \"1h\"\n"});
  station.StartService();
  station.WaitFor("/api/v1/dispensers/1/1", Link("ok"));
  station.Line().InjectFault(
      1, sim::Request::Status,
      sim::Fault{.kind = sim::FaultKind::WrongComplement, .persistent = true});
  station.WaitFor("/api/v1/dispensers/1/1", Link("bad reply"));
  const Reply patient = station.Call("GET", "/api/v1/health", "");
  EXPECT_EQ(patient.status, 200) << patient.text;
  EXPECT_EQ(patient.body["status"], "ok");
  EXPECT_EQ(patient.body["dispensers"][0]["link"], "bad reply") << "the link is still shown";

  const std::string text = station.Get("/metrics").text;
  const auto samples = Samples(text);
  const std::string failures = "quorlan_link_failures_total{channel=\"1\",dispenser=";
  EXPECT_GT(samples.at(failures + R"("1",kind="bad reply"})"), 0) << text;
  for (const char* kind : {"no reply", "bad reply", "line down"}) {
    EXPECT_EQ(samples.count(failures + "\"2\",kind=\"" + kind + "\"}"), 1u) << kind;
  }
  for (const std::string family :
       {"process_cpu_seconds_total counter", "process_resident_memory_bytes gauge",
        "process_virtual_memory_bytes gauge", "process_open_fds gauge", "process_max_fds gauge",
        "process_start_time_seconds gauge"}) {
    EXPECT_NE(text.find("# TYPE " + family + "\n"), std::string::npos) << family;
  }
  EXPECT_GT(samples.at("process_resident_memory_bytes"), 0);
  EXPECT_GT(samples.at("process_open_fds"), 0);
  EXPECT_LE(samples.at("process_open_fds"), samples.at("process_max_fds"));
  EXPECT_GE(samples.at("process_cpu_seconds_total"), 0);
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(samples.at("process_start_time_seconds"), now, 24 * 3600);

  // The same failure, with a patience shorter than it lasts, degrades.
  EXPECT_EQ(station.StopService(), 0);
  station.Configure({.top = "unanswered_after = \"1s\"\n"});
  station.StartService();
  EXPECT_TRUE(ServiceFixture::WaitUntil([&] {
    const Reply health = station.Call("GET", "/api/v1/health", "");
    return health.status == 503 && health.body["status"] == "degraded";
  }));
  station.Line().ClearFaults(1);
  EXPECT_TRUE(ServiceFixture::WaitUntil(
      [&] { return station.Call("GET", "/api/v1/health", "").status == 200; }));
  EXPECT_EQ(station.StopService(), 0);
}

}  // namespace
}  // namespace quorlan::testing
