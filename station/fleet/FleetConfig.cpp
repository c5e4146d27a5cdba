// SPDX-License-Identifier: Apache-2.0
#include "FleetConfig.h"

#include <fstream>
#include <set>

#include "Topics.h"

namespace quorlan::fleet {

namespace {

constexpr int kLongestResendSeconds = 24 * 3600;

std::string Line(const toml::node& node) {
  return "line " + std::to_string(node.source().begin.line) + ": ";
}

}  // namespace

std::optional<FleetConfig> ReadFleetConfig(const toml::table& root) {
  const auto* node = root.get("fleet");
  if (!node) return std::nullopt;
  const auto* table = node->as_table();
  if (!table) throw FleetConfigError(Line(*node) + "[fleet] must be a table");
  static const std::set<std::string> known{"broker", "ca_file",       "station_id",
                                           "user",   "password_file", "resend_after"};
  for (const auto& [key, value] : *table) {
    if (!known.contains(std::string(key.str()))) {
      throw FleetConfigError(Line(value) + "unknown key fleet." + std::string(key.str()));
    }
  }
  FleetConfig config;
  const auto text = [&](const char* key, std::string& into, bool required) {
    const auto* value = table->get(key);
    if (!value) {
      if (required) throw FleetConfigError(Line(*node) + "fleet." + key + " is required");
      return;
    }
    const auto string = value->value<std::string>();
    if (!string || string->empty()) {
      throw FleetConfigError(Line(*value) + "fleet." + key + " must be a non-empty string");
    }
    into = *string;
  };
  text("broker", config.broker, true);
  text("station_id", config.stationId, true);
  text("ca_file", config.caFile, false);
  text("user", config.user, false);
  text("password_file", config.passwordFile, false);
  if (config.user.empty()) config.user = config.stationId;
  if (!ValidStationId(config.stationId)) {
    throw FleetConfigError(Line(*table->get("station_id")) +
                           "fleet.station_id must be 1..64 of A-Z a-z 0-9 - _");
  }
  try {
    const auto address = ParseBrokerUrl(config.broker);
    if (!address.tls && !config.caFile.empty()) {
      throw FleetConfigError(Line(*table->get("ca_file")) +
                             "fleet.ca_file needs an mqtts:// broker");
    }
  } catch (const MqttError& error) {
    throw FleetConfigError(Line(*table->get("broker")) + error.what());
  }
  if (const auto* value = table->get("resend_after")) {
    const auto seconds = value->value<std::int64_t>();
    if (!seconds || *seconds < 1 || *seconds > kLongestResendSeconds) {
      throw FleetConfigError(Line(*value) + "fleet.resend_after must be 1..86400 seconds");
    }
    config.resendAfterSeconds = static_cast<int>(*seconds);
  }
  return config;
}

PublisherOptions MakePublisherOptions(const FleetConfig& config) {
  PublisherOptions options;
  options.stationId = config.stationId;
  options.mqtt.url = config.broker;
  options.mqtt.caFile = config.caFile;
  options.mqtt.user = config.user;
  if (!config.passwordFile.empty()) {
    std::ifstream in(config.passwordFile);
    if (!in) throw FleetConfigError("cannot read " + config.passwordFile);
    std::getline(in, options.mqtt.password);
    while (!options.mqtt.password.empty() &&
           (options.mqtt.password.back() == '\r' || options.mqtt.password.back() == ' ')) {
      options.mqtt.password.pop_back();
    }
  }
  options.resendAfter = std::chrono::seconds(config.resendAfterSeconds);
  return options;
}

}  // namespace quorlan::fleet
