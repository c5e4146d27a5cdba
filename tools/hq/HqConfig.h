// SPDX-License-Identifier: Apache-2.0
#pragma once
// hq.toml: where head office listens, its PostgreSQL, its broker and the
// tokens of its API.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorlan::hq {

class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Role { View, Admin };

struct Token {
  std::string name;
  std::string secret;
  Role role = Role::View;
};

struct HqConfig {
  std::string listenHost = "127.0.0.1";
  int listenPort = 8620;
  std::string database;  // a libpq connection string
  std::string brokerUrl = "mqtt://127.0.0.1:1883";
  std::string brokerUser;
  std::string brokerPassword;
  std::string caFile;
  std::string clientId = "hq-1";  // one per head office process
  // Long enough to outlive a restart; short, because until it ends a process
  // that is gone keeps receiving its share of the records (the stations
  // resend them, later).
  std::uint32_t sessionExpirySeconds = 300;
  std::vector<Token> tokens;
};

// Every problem names the file and, where known, the line.
HqConfig LoadHqConfig(const std::string& path);

}  // namespace quorlan::hq
