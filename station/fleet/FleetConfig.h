// SPDX-License-Identifier: Apache-2.0
#pragma once
// [fleet] in station.toml: where the station reports to head office.
//
//   [fleet]
//   broker = "mqtts://hq.example:8883"   # or mqtt:// (loopback or a trusted network)
//   ca_file = "/etc/quorlan/fleet-ca.crt" # mqtts only; default: the system's authorities
//   station_id = "station-1"             # also the MQTT user name unless `user` says otherwise
//   user = "station-1"
//   password_file = "/etc/quorlan/fleet.password"
//   resend_after = 30                    # seconds without head office's receipt

#include <toml++/toml.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "Publisher.h"

namespace quorlan::fleet {

class FleetConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FleetConfig {
  std::string broker;
  std::string caFile;
  std::string stationId;
  std::string user;
  std::string passwordFile;
  int resendAfterSeconds = 30;
};

// nullopt without [fleet]. A problem throws with "line N: what" in its text.
std::optional<FleetConfig> ReadFleetConfig(const toml::table& root);

// Reads the password file.
PublisherOptions MakePublisherOptions(const FleetConfig& config);

}  // namespace quorlan::fleet
