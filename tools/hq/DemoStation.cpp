// SPDX-License-Identifier: Apache-2.0
// quorlan-fleet-demo-station: a stand-in station for the fleet demo. It
// completes a made-up fill every few seconds into its own outbox, shows a
// filling pump's live state, and answers price pushes, all through the same
// fleet library the station service uses.

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "CommandReceiver.h"
#include "Outbox.h"
#include "Publisher.h"
#include "StationSql.h"
#include "station/sql/Sqlite.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
  stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorlan;
  if (argc != 6) {
    std::fprintf(stderr,
                 "usage: quorlan-fleet-demo-station BROKER_URL STATION_ID PASSWORD_FILE "
                 "DATABASE SECONDS_BETWEEN_FILLS\n");
    return 2;
  }
  const std::string station = argv[2];
  std::string password;
  std::ifstream(argv[3]) >> password;
  // 0: a fill every 20 ms, for the tests that kill the station while it publishes.
  const int every = std::max(0, std::atoi(argv[5]));
  const auto tick = every == 0 ? std::chrono::milliseconds(20) : std::chrono::milliseconds(1000);
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  try {
    station::sql::Database writer(argv[4]);
    station::sql::Database reader(argv[4]);
    writer.Execute("PRAGMA journal_mode=WAL");
    fleet::StationSql writerSql(writer);
    fleet::StationSql readerSql(reader);
    writerSql.Execute(fleet::Outbox::Schema());
    fleet::CommandReceiver commands(readerSql, [&](const nlohmann::json& prices) {
      std::printf("%s: price push %s\n", station.c_str(), prices.dump().c_str());
      std::fflush(stdout);
      auto outcome = nlohmann::json::array();
      for (const auto& price : prices) {
        outcome.push_back({{"channel", price["channel"]},
                           {"dispenser", price["dispenser"]},
                           {"result", "downloaded"}});
      }
      return outcome;
    });
    fleet::PublisherOptions options;
    options.stationId = station;
    options.mqtt.url = argv[1];
    options.mqtt.user = station;
    options.mqtt.password = password;
    options.presence = {{"lines", {{{"channel", 1}, {"dispensers", {1, 2}}}}}};
    fleet::Publisher publisher(options, readerSql, &commands);
    publisher.Start();

    std::mt19937 random(std::random_device{}());
    std::int64_t fillId = 0;
    writerSql.Query("SELECT count(*) FROM fleet_outbox WHERE kind = 'fill'", {},
                    [&](const fleet::SqlRow& row) { fillId = row.Integer(0); });
    for (int round = 0; !stopRequested; ++round) {
      const double volume = 5 + static_cast<double>(random() % 4000) / 100;
      publisher.SetLive(1, 1, {{"state", "filling"}, {"volume", volume / 2}});
      std::this_thread::sleep_for(tick);
      if (every > 0 && round % every != every - 1) continue;
      ++fillId;
      const double price = 1.75;
      const nlohmann::json fill{{"id", fillId},
                                {"channel", 1},
                                {"dispenser", 1},
                                {"nozzle", 1},
                                {"grade", 1},
                                {"price", price},
                                {"volume", volume},
                                {"amount", std::round(volume * price * 100) / 100},
                                {"status", "completed"},
                                {"finished_at", fleet::UtcNow()}};
      station::sql::Transaction transaction(writer);
      fleet::Outbox::Add(writerSql, fleet::Kind::Fill, std::to_string(fillId), 1, fill);
      transaction.Commit();
      publisher.SetLive(1, 1, {{"state", "idle"}});
      if (every > 0) {
        std::printf("%s: fill %lld completed, %.2f l\n", station.c_str(),
                    static_cast<long long>(fillId), volume);
        std::fflush(stdout);
      }
    }
    publisher.Stop();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s: %s\n", station.c_str(), failure.what());
    return 1;
  }
  return 0;
}
