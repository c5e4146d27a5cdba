// SPDX-License-Identifier: Apache-2.0
// quorlan_fleet_bench: head office's ingest rate into PostgreSQL with one and
// with two quorlan-hq processes, fed by a load generator publishing as many
// stations, and the latency from a station's outbox to head office's row.
// A real broker and a throwaway PostgreSQL, as in the fleet's tests; run by
// hand, never a test.
//   quorlan_fleet_bench [fills] [stations]      default 20000 fills, 1000 stations

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "FleetHarness.h"
#include "Mqtt.h"
#include "Topics.h"

namespace {

using namespace quorlan;
using namespace quorlan::fleet_test;
using Clock = std::chrono::steady_clock;

constexpr int kConnections = 8;  // the generator's MQTT connections

std::int64_t FillRows(const Postgres& postgres) {
  const auto text = postgres.Scalar("SELECT count(*) FROM fills");
  return text.empty() ? 0 : std::stoll(text);
}

// Publishes `fills` fill records spread over `stations` ids as fast as the
// broker takes them; answers the fills a second into PostgreSQL.
double IngestRate(const Broker& broker, const Postgres& postgres, int fills, int stations,
                  int offset) {
  std::vector<std::unique_ptr<fleet::MqttClient>> clients;
  for (int i = 0; i < kConnections; ++i) {
    clients.push_back(std::make_unique<fleet::MqttClient>(
        fleet::MqttOptions{.url = broker.Url(),
                           .clientId = "load-" + std::to_string(offset) + "-" + std::to_string(i),
                           .sessionExpirySeconds = 0}));
    auto& client = *clients.back();
    WaitFor([&] {
      client.Poll(std::chrono::milliseconds(10));
      return client.Connected();
    });
  }
  const auto before = FillRows(postgres);
  const auto start = Clock::now();
  for (int n = 0; n < fills; ++n) {
    const int station = n % stations;
    const std::string id = "station-" + std::to_string(station);
    const nlohmann::json envelope{{"schema", 1},
                                  {"station", id},
                                  {"seq", offset + n},
                                  {"kind", "fill"},
                                  {"id", std::to_string(offset + n)},
                                  {"version", 1},
                                  {"at", "2026-12-07T09:00:00Z"},
                                  {"data", Fill(offset + n, 1, 1 + n % 8, 20, 35)}};
    auto& client = *clients[static_cast<std::size_t>(n % kConnections)];
    while (!client.Publish(fleet::RecordTopic(id, fleet::Kind::Fill), envelope.dump(), 1, false)) {
      client.Poll(std::chrono::milliseconds(1));
    }
    client.Poll(std::chrono::milliseconds(0));
  }
  WaitFor(
      [&] {
        for (auto& client : clients) client->Poll(std::chrono::milliseconds(1));
        return FillRows(postgres) - before >= fills;
      },
      std::chrono::minutes(10));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return (FillRows(postgres) - before) / seconds;
}

void Latency(const Broker& broker, const Postgres& postgres) {
  TestStation station("station-latency", broker);
  station.Start();
  WaitFor([&] { return station.Publisher().Connected(); });
  std::vector<double> millis;
  for (int n = 1; n <= 200; ++n) {
    const auto before = FillRows(postgres);
    const auto start = Clock::now();
    station.AddFill(n, 1, Fill(n, 1, 1, 10, 17.5));
    WaitFor([&] { return FillRows(postgres) > before; });
    millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(millis.begin(), millis.end());
  std::printf("sale to head office row: median %.1f ms, p99 %.1f ms (200 fills, one at a time)\n",
              millis[millis.size() / 2], millis[millis.size() * 99 / 100]);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int fills = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int stations = argc > 2 ? std::atoi(argv[2]) : 1000;
  Broker broker;
  Postgres postgres;
  {
    HeadOffice one(broker, postgres, "hq-1");
    std::printf("one hq:  %.0f fills/s into PostgreSQL (%d fills from %d stations)\n",
                IngestRate(broker, postgres, fills, stations, 0), fills, stations);
    HeadOffice two(broker, postgres, "hq-2");
    std::printf("two hq:  %.0f fills/s into PostgreSQL (%d fills from %d stations)\n",
                IngestRate(broker, postgres, fills, stations, fills), fills, stations);
  }
  HeadOffice office(broker, postgres, "hq-1");
  Latency(broker, postgres);
  return 0;
}
