// SPDX-License-Identifier: Apache-2.0
#include "Mqtt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <thread>

namespace quorlan::fleet {

namespace {

constexpr int kPlainPort = 1883;
constexpr int kTlsPort = 8883;
constexpr auto kFirstPause = std::chrono::milliseconds(200);
constexpr auto kLongestPause = std::chrono::seconds(5);
// QoS 1 messages in flight at once; more wait in the library's queue.
constexpr int kInflight = 64;

// Callbacks run inside libmosquitto's C code: nothing may be thrown through it.
template <typename Body>
void Guarded(const char* what, Body body) {
  try {
    body();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "fleet: %s handler: %s\n", what, failure.what());
  } catch (...) {
    std::fprintf(stderr, "fleet: %s handler failed\n", what);
  }
}

void InitializeLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

BrokerAddress ParseBrokerUrl(const std::string& url) {
  BrokerAddress address;
  std::string rest;
  if (url.starts_with("mqtt://")) {
    rest = url.substr(7);
  } else if (url.starts_with("mqtts://")) {
    rest = url.substr(8);
    address.tls = true;
  } else {
    throw MqttError("broker URL must start with mqtt:// or mqtts://: " + url);
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const auto colon = rest.rfind(':');
  address.host = rest.substr(0, colon);
  address.port = address.tls ? kTlsPort : kPlainPort;
  if (colon != std::string::npos) {
    const std::string port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit)) {
      throw MqttError("bad port in broker URL: " + url);
    }
    address.port = std::stoi(port);
    if (address.port < 1 || address.port > 65535) throw MqttError("bad port in broker URL: " + url);
  }
  if (address.host.empty()) throw MqttError("no host in broker URL: " + url);
  return address;
}

MqttClient::MqttClient(MqttOptions options)
    : options_(std::move(options)), address_(ParseBrokerUrl(options_.url)) {
  InitializeLibraryOnce();
  // clean_session false: with MQTT 5 this is clean start false.
  handle_ = mosquitto_new(options_.clientId.c_str(), false, this);
  if (!handle_) throw MqttError("cannot create an MQTT client");
  mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_max_inflight_messages_set(handle_, kInflight);
  mosquitto_connect_v5_callback_set(handle_, &MqttClient::HandleConnect);
  mosquitto_disconnect_v5_callback_set(handle_, &MqttClient::HandleDisconnect);
  mosquitto_publish_v5_callback_set(handle_, &MqttClient::HandlePublish);
  mosquitto_message_v5_callback_set(handle_, &MqttClient::HandleMessage);
  if (!options_.user.empty() &&
      mosquitto_username_pw_set(handle_, options_.user.c_str(), options_.password.c_str()) !=
          MOSQ_ERR_SUCCESS) {
    throw MqttError("cannot set the MQTT user");
  }
  if (address_.tls &&
      mosquitto_tls_set(handle_, options_.caFile.empty() ? nullptr : options_.caFile.c_str(),
                        options_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                        nullptr) != MOSQ_ERR_SUCCESS) {
    throw MqttError("cannot use the CA file " + options_.caFile);
  }
  if (options_.will && mosquitto_will_set_v5(handle_, options_.will->topic.c_str(),
                                             static_cast<int>(options_.will->payload.size()),
                                             options_.will->payload.data(), 1,
                                             options_.will->retain, nullptr) != MOSQ_ERR_SUCCESS) {
    throw MqttError("cannot set the will on " + options_.will->topic);
  }
}

MqttClient::~MqttClient() {
  mosquitto_destroy(handle_);
}

void MqttClient::TryConnect() {
  mosquitto_property* properties = nullptr;
  mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                               options_.sessionExpirySeconds);
  // Never mosquitto_reconnect: it sends no properties, so the session
  // would end with the connection.
  const int result = mosquitto_connect_bind_v5(handle_, address_.host.c_str(), address_.port,
                                               options_.keepAliveSeconds, nullptr, properties);
  mosquitto_property_free_all(&properties);
  if (result == MOSQ_ERR_SUCCESS) {
    socketOpen_ = true;
    pause_ = kFirstPause;
    return;
  }
  pause_ = std::min<std::chrono::milliseconds>(kLongestPause,
                                               pause_.count() == 0 ? kFirstPause : pause_ * 2);
  nextAttempt_ = std::chrono::steady_clock::now() + pause_;
}

void MqttClient::Poll(std::chrono::milliseconds wait) {
  if (!socketOpen_) {
    if (std::chrono::steady_clock::now() >= nextAttempt_) TryConnect();
    if (!socketOpen_) {
      std::this_thread::sleep_for(wait);
      return;
    }
  }
  const int result = mosquitto_loop(handle_, static_cast<int>(wait.count()), 1);
  if (result != MOSQ_ERR_SUCCESS) {
    // Lost (reset, keep-alive timeout, refused): try again after a pause.
    socketOpen_ = false;
    connected_ = false;
    pause_ = std::min<std::chrono::milliseconds>(kLongestPause,
                                                 pause_.count() == 0 ? kFirstPause : pause_ * 2);
    nextAttempt_ = std::chrono::steady_clock::now() + pause_;
  }
}

std::optional<int> MqttClient::Publish(const std::string& topic, const std::string& payload,
                                       int qos, bool retain) {
  if (!connected_) return std::nullopt;
  int id = 0;
  const int result =
      mosquitto_publish_v5(handle_, &id, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), qos, retain, nullptr);
  if (result != MOSQ_ERR_SUCCESS) return std::nullopt;
  return id;
}

bool MqttClient::Subscribe(const std::string& filter, int qos) {
  return mosquitto_subscribe_v5(handle_, nullptr, filter.c_str(), qos, 0, nullptr) ==
         MOSQ_ERR_SUCCESS;
}

void MqttClient::Disconnect(bool endSession) {
  if (socketOpen_) {
    mosquitto_property* properties = nullptr;
    if (endSession) mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, 0);
    mosquitto_disconnect_v5(handle_, 0, properties);
    mosquitto_property_free_all(&properties);
    // Sends the DISCONNECT that was just queued.
    mosquitto_loop(handle_, 100, 1);
  }
  socketOpen_ = false;
  connected_ = false;
}

void MqttClient::HandleConnect(mosquitto*, void* self, int reason, int, const mqtt5__property*) {
  auto* client = static_cast<MqttClient*>(self);
  if (reason != 0) return;  // refused: the loop ends the socket and retries
  client->connected_ = true;
  Guarded("connect", [&] {
    if (client->onConnected_) client->onConnected_();
  });
}

void MqttClient::HandleDisconnect(mosquitto*, void* self, int, const mqtt5__property*) {
  auto* client = static_cast<MqttClient*>(self);
  client->connected_ = false;
}

void MqttClient::HandlePublish(mosquitto*, void* self, int id, int reason, const mqtt5__property*) {
  auto* client = static_cast<MqttClient*>(self);
  Guarded("acknowledgement", [&] {
    if (client->onAcknowledged_) client->onAcknowledged_(id, reason);
  });
}

void MqttClient::HandleMessage(mosquitto*, void* self, const mosquitto_message* message,
                               const mqtt5__property*) {
  auto* client = static_cast<MqttClient*>(self);
  if (!client->onMessage_ || !message->topic) return;
  Guarded("message", [&] {
    client->onMessage_(message->topic, std::string(static_cast<const char*>(message->payload),
                                                   static_cast<std::size_t>(message->payloadlen)));
  });
}

}  // namespace quorlan::fleet
