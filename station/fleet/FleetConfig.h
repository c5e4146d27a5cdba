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

// what() is "line N: detail" (just the detail without a line).
class FleetConfigError : public std::runtime_error {
 public:
  explicit FleetConfigError(const std::string& detail) : FleetConfigError(0, detail) {}
  FleetConfigError(int line, const std::string& detail)
      : std::runtime_error(line > 0 ? "line " + std::to_string(line) + ": " + detail : detail),
        line_(line),
        detail_(detail) {}
  int Line() const { return line_; }
  const std::string& Detail() const { return detail_; }

 private:
  int line_;
  std::string detail_;
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
