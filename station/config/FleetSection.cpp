// SPDX-License-Identifier: Apache-2.0
// [fleet]: read by the fleet library, its files checked here.

#include <fmt/format.h>

#include <memory>
#include <utility>

#include "station/config/Config.h"
#include "station/config/Sections.h"
#include "station/fleet/FleetConfig.h"

namespace quorlan::station {

void ReadFleet(TomlReader& reader, const toml::table& root, StationConfig& config) {
  try {
    const auto fleet = fleet::ReadFleetConfig(root);
    if (!fleet) return;
    const std::pair<const char*, std::string> files[] = {{"password_file", fleet->passwordFile},
                                                         {"ca_file", fleet->caFile}};
    for (const auto& [key, path] : files) {
      if (!path.empty() && !Readable(path)) {
        reader.Problem(LineOf(*root["fleet"][key].node()),
                       fmt::format("cannot read 'fleet.{}' {}", key, path));
        return;
      }
    }
    config.fleet = std::make_shared<const fleet::FleetConfig>(*fleet);
  } catch (const fleet::FleetConfigError& error) {
    reader.Problem(error.Line(), error.Detail());
  }
}

}  // namespace quorlan::station
