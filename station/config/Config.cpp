// SPDX-License-Identifier: Apache-2.0
#include "station/config/Config.h"

#include <fmt/format.h>
#include <toml++/toml.h>

#include <array>
#include <random>

#include "station/config/Sections.h"

namespace quorlan::station {

ConfigReport ReadConfig(const std::string& path, bool checkDevices) {
  TomlReader reader(path);
  ConfigReport report;
  StationConfig& config = report.config;
  config.file = path;
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& error) {
    // Past a syntax error nothing more can be read.
    reader.Problem(static_cast<int>(error.source().begin.line), std::string(error.description()));
    report.problems = reader.Problems();
    return report;
  }
  ReadRoot(reader, root, config);
  ReadFleet(reader, root, config);
  ReadGrades(reader, root, config);
  ReadLines(reader, root, config, checkDevices);
  ReadPrices(reader, root, config);
  ReadTokens(reader, root, config);
  report.problems = reader.Problems();
  return report;
}

StationConfig LoadConfig(const std::string& path) {
  ConfigReport report = ReadConfig(path);
  if (!report.problems.empty()) {
    std::string message;
    for (const std::string& problem : report.problems) {
      if (!message.empty()) message += '\n';
      message += problem;
    }
    throw ConfigError(kExitConfig, message);
  }
  return std::move(report.config);
}

std::string GenerateSecret() {
  std::random_device random;  // the kernel's generator on Linux
  std::string secret;
  for (int i = 0; i < 8; ++i) secret += fmt::format("{:08x}", random());
  return secret;
}

StationConfig EmbeddedConfig() {
  StationConfig config;
  LineConfig line;
  line.channel = 1;
  line.port = std::string(kSimulatedPort);
  line.dispensers = {1, 2, 3, 4};
  // Grades 1..4 priced, so that the demonstration can be used at once.
  constexpr std::array<Cents, 4> kPrices{5290, 5490, 5890, 6190};
  for (int d : line.dispensers) {
    for (int g = 1; g <= static_cast<int>(kPrices.size()); ++g) {
      config.startingPrices.push_back({line.channel, d, g, kPrices[std::size_t(g - 1)]});
    }
  }
  config.lines.push_back(std::move(line));
  config.tokens.push_back(TokenConfig{"admin", GenerateSecret(), Role::Admin});
  return config;
}

}  // namespace quorlan::station
