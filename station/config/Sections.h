// SPDX-License-Identifier: Apache-2.0
#pragma once
// The configuration file read a section at a time, each into the station's
// configuration, each problem noted on the reader.

#include <toml++/toml.h>
#include <unistd.h>

#include <string>

#include "station/config/TomlReader.h"

namespace quorlan::station {

struct StationConfig;

// The keys at the top: listen, database, logs, currency, zone, limits,
// TLS, origins, connections, drive-offs.
void ReadRoot(TomlReader& reader, const toml::table& root, StationConfig& config);
// [fleet], when there is one.
void ReadFleet(TomlReader& reader, const toml::table& root, StationConfig& config);
// [[grade]]: each number once.
void ReadGrades(TomlReader& reader, const toml::table& root, StationConfig& config);
// [[line]]: at least one, each channel and capture once, simulated or
// serial throughout; with `checkDevices` the serial ports must exist.
void ReadLines(TomlReader& reader, const toml::table& root, StationConfig& config,
               bool checkDevices);
// [[price]]: each configured dispenser's price of each grade the entries
// give, the most particular entry winning; after the lines.
void ReadPrices(TomlReader& reader, const toml::table& root, StationConfig& config);
// [[token]]: each name once, one secret each.
void ReadTokens(TomlReader& reader, const toml::table& root, StationConfig& config);

// Whether the service may read the file a key names.
inline bool Readable(const std::string& path) {
  return access(path.c_str(), R_OK) == 0;
}

}  // namespace quorlan::station
