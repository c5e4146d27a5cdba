// SPDX-License-Identifier: Apache-2.0
#pragma once
// One MQTT 5 connection over libmosquitto, driven by its owner's thread:
// every callback runs inside Poll(), so the owner needs no lock around its
// own state. A lost connection is retried with a growing pause.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace quorlan::fleet {

class MqttError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// mqtt://host:port or mqtts://host:port (1883 and 8883 when left out).
struct BrokerAddress {
  std::string host;
  int port = 0;
  bool tls = false;
};
BrokerAddress ParseBrokerUrl(const std::string& url);

struct Will {
  std::string topic;
  std::string payload;
  bool retain = true;
};

struct MqttOptions {
  std::string url;
  std::string caFile;  // mqtts only; empty: the system's authorities
  std::string user;
  std::string password;
  std::string clientId;
  // A persistent session: the broker keeps subscriptions and queued QoS 1
  // messages for this long after a disconnect.
  std::uint32_t sessionExpirySeconds = 7 * 24 * 3600;
  int keepAliveSeconds = 10;
  std::optional<Will> will;
};

// MQTT 5 reason codes from 0x80 on are refusals.
inline constexpr int kFirstRefusalReason = 0x80;

class MqttClient {
 public:
  using Handler = std::function<void(const std::string& topic, const std::string& payload)>;

  explicit MqttClient(MqttOptions options);
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Called inside Poll(): a session is up (subscribe here), a QoS 1 message
  // was acknowledged or refused (reason), a message arrived.
  void OnConnected(std::function<void()> handler) { onConnected_ = std::move(handler); }
  void OnAcknowledged(std::function<void(int id, int reason)> handler) {
    onAcknowledged_ = std::move(handler);
  }
  void OnMessage(Handler handler) { onMessage_ = std::move(handler); }

  // Network work for at most `wait`; connects and reconnects as needed.
  void Poll(std::chrono::milliseconds wait);
  bool Connected() const { return connected_; }

  // The message id, or nullopt when it could not be queued (not connected).
  std::optional<int> Publish(const std::string& topic, const std::string& payload, int qos,
                             bool retain);
  bool Subscribe(const std::string& filter, int qos);
  // A clean DISCONNECT: the broker does not send the will. `endSession`
  // drops the session now instead of keeping it for its expiry.
  void Disconnect(bool endSession = false);

 private:
  static void HandleConnect(mosquitto*, void* self, int reason, int flags, const mqtt5__property*);
  static void HandleDisconnect(mosquitto*, void* self, int reason, const mqtt5__property*);
  static void HandlePublish(mosquitto*, void* self, int id, int reason, const mqtt5__property*);
  static void HandleMessage(mosquitto*, void* self, const mosquitto_message* message,
                            const mqtt5__property*);
  void TryConnect();

  MqttOptions options_;
  BrokerAddress address_;
  mosquitto* handle_ = nullptr;
  bool socketOpen_ = false;
  bool connected_ = false;
  std::chrono::steady_clock::time_point nextAttempt_{};
  std::chrono::milliseconds pause_{0};
  std::function<void()> onConnected_;
  std::function<void(int, int)> onAcknowledged_;
  Handler onMessage_;
};

}  // namespace quorlan::fleet
