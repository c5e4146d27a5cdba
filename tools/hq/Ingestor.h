// SPDX-License-Identifier: Apache-2.0
#pragma once
// Head office's subscriber. Records come through an MQTT 5 shared
// subscription, so several head office processes share the stations'
// load; each is committed to PostgreSQL and only then confirmed to its
// station by a receipt. The broker's own acknowledgement cannot wait for
// the commit (the client library sends it before handing the message
// over), so the receipt is what lets the station forget a row.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Journal.h"
#include "Mqtt.h"

namespace quorlan::hq {

struct IngestOptions {
  fleet::MqttOptions mqtt;
  std::string shareGroup = "hq";
};

class Ingestor {
 public:
  Ingestor(IngestOptions options, Journal& journal);
  ~Ingestor();
  Ingestor(const Ingestor&) = delete;
  Ingestor& operator=(const Ingestor&) = delete;

  void Start();
  void Stop();
  bool Connected() const { return connected_; }
  // Publishes a price command; false when the broker is not reachable now.
  bool PublishCommand(const std::string& station, const std::string& payload);

 private:
  void Run();
  void OnMessage(const std::string& topic, const std::string& payload);
  // Commits what arrived in one poll, then sends the receipts.
  void Flush();

  IngestOptions options_;
  Journal& journal_;
  fleet::MqttClient client_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> connected_{false};
  std::mutex commandsMutex_;
  std::vector<std::pair<std::string, std::string>> commands_;
  std::vector<Record> pending_;  // ingest thread only
};

}  // namespace quorlan::hq
