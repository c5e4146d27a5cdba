// SPDX-License-Identifier: Apache-2.0
// quorlan-hq --config hq.toml: head office. Takes every station's records
// from the broker into PostgreSQL, serves them over HTTP, pushes prices.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "Api.h"
#include "HqConfig.h"
#include "HttpServer.h"
#include "Ingestor.h"
#include "Journal.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
  stopRequested = 1;
}

int Usage() {
  std::fprintf(stderr, "usage: quorlan-hq --config hq.toml\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorlan::hq;
  if (argc != 3 || std::string(argv[1]) != "--config") return Usage();
  HqConfig config;
  try {
    config = LoadHqConfig(argv[2]);
  } catch (const ConfigError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  try {
    Journal ingestJournal(config.database);
    ingestJournal.CreateSchema();
    Journal apiJournal(config.database);

    IngestOptions ingest;
    ingest.mqtt.url = config.brokerUrl;
    ingest.mqtt.caFile = config.caFile;
    ingest.mqtt.user = config.brokerUser;
    ingest.mqtt.password = config.brokerPassword;
    ingest.mqtt.clientId = config.clientId;
    ingest.mqtt.sessionExpirySeconds = config.sessionExpirySeconds;
    Ingestor ingestor(ingest, ingestJournal);

    Api api(
        config.tokens, apiJournal,
        [&](const std::string& station, const std::string& payload) {
          return ingestor.PublishCommand(station, payload);
        },
        [&] { return ingestor.Connected(); });
    HttpServer server(api);
    const int port = server.Listen(config.listenHost, config.listenPort);
    if (port < 0) {
      std::fprintf(stderr, "cannot listen on %s:%d\n", config.listenHost.c_str(),
                   config.listenPort);
      return 1;
    }
    ingestor.Start();
    std::printf("quorlan-hq listening on http://%s:%d\n", config.listenHost.c_str(), port);
    std::fflush(stdout);
    while (!stopRequested) pause();
    server.Stop();
    ingestor.Stop();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "quorlan-hq: %s\n", failure.what());
    return 1;
  }
  return 0;
}
