// SPDX-License-Identifier: Apache-2.0
#pragma once
// Sends the station's outbox to the broker in order at QoS 1, and resends
// every row until head office's receipt confirms it was committed: across
// broker outages, lost sessions, kills and restarts. Also keeps the
// station's presence (retained "online", a will of "offline"), its pumps'
// live states (retained, at most one a second per pump) and receives price
// pushes. One thread of its own drives the connection and the outbox.

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>

#include "CommandReceiver.h"
#include "Mqtt.h"
#include "Outbox.h"
#include "Sql.h"

namespace quorlan::fleet {

struct PublisherOptions {
  std::string stationId;
  // clientId and will are set by the publisher.
  MqttOptions mqtt;
  // An acknowledged row that has no receipt by then is sent again.
  std::chrono::milliseconds resendAfter{std::chrono::seconds(30)};
  std::chrono::milliseconds liveInterval{std::chrono::seconds(1)};
  // Shown by head office with the station: e.g. {"lines":[...]}.
  nlohmann::json presence = nlohmann::json::object();
};

class Publisher {
 public:
  // `sql` is a connection of the publisher's own to the station database
  // (never the one the station's threads write with): it is used only
  // from the publisher's thread. `commands` may be null.
  Publisher(PublisherOptions options, Sql& sql, CommandReceiver* commands);
  ~Publisher();
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  void Start();
  // Says "offline" and ends the session cleanly; rows not yet confirmed
  // stay in the outbox for the next start.
  void Stop();

  // From any thread: the pump's latest state; older unsent ones are dropped.
  void SetLive(int channel, int dispenser, nlohmann::json state);

  bool Connected() const { return connected_; }

 private:
  void Run();
  void OnConnected();
  void OnAcknowledged(int id, int reason);
  void OnMessage(const std::string& topic, const std::string& payload);
  void SendDue();
  void SendLive();
  std::string Envelope(const OutboxMessage& message) const;

  PublisherOptions options_;
  Sql& sql_;
  CommandReceiver* commands_;
  MqttClient client_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> connected_{false};

  // Publisher thread only.
  std::map<int, std::int64_t> inflight_;  // message id -> seq
  std::int64_t cursor_ = 0;
  std::chrono::steady_clock::time_point nextRescan_{};

  struct Live {
    nlohmann::json state;
    bool pending = false;
    std::chrono::steady_clock::time_point sentAt{};
  };
  std::mutex liveMutex_;
  std::map<std::pair<int, int>, Live> live_;
};

}  // namespace quorlan::fleet
