// SPDX-License-Identifier: Apache-2.0
#include "HqConfig.h"

#include <toml++/toml.h>

#include <fstream>
#include <set>
#include <sstream>

namespace quorlan::hq {

namespace {

constexpr std::size_t kShortestSecret = 16;

std::string Where(const std::string& path, const toml::source_region& region) {
  return path + ":" + std::to_string(region.begin.line) + ": ";
}

std::string ReadSecretFile(const std::string& file, const std::string& where) {
  std::ifstream in(file);
  if (!in) throw ConfigError(where + "cannot read " + file);
  std::string secret;
  std::getline(in, secret);
  while (!secret.empty() && (secret.back() == '\r' || secret.back() == ' ')) secret.pop_back();
  return secret;
}

}  // namespace

HqConfig LoadHqConfig(const std::string& path) {
  toml::table table;
  try {
    table = toml::parse_file(path);
  } catch (const toml::parse_error& error) {
    throw ConfigError(Where(path, error.source()) + std::string(error.description()));
  }
  HqConfig config;
  static const std::set<std::string> known{
      "listen",         "database",  "broker",         "broker_user", "broker_password_file",
      "broker_ca_file", "client_id", "session_expiry", "token"};
  for (const auto& [key, node] : table) {
    if (!known.contains(std::string(key.str()))) {
      throw ConfigError(Where(path, node.source()) + "unknown key " + std::string(key.str()));
    }
  }
  const auto text = [&](const char* key, std::string& into) {
    if (const auto* node = table.get(key)) {
      const auto value = node->value<std::string>();
      if (!value) throw ConfigError(Where(path, node->source()) + key + " must be a string");
      into = *value;
    }
  };
  std::string listen = config.listenHost + ":" + std::to_string(config.listenPort);
  text("listen", listen);
  const auto colon = listen.rfind(':');
  try {
    config.listenHost = listen.substr(0, colon);
    config.listenPort = std::stoi(listen.substr(colon + 1));
  } catch (const std::exception&) {
    throw ConfigError(path + ": listen must be HOST:PORT");
  }
  if (colon == std::string::npos || config.listenPort < 0 || config.listenPort > 65535) {
    throw ConfigError(path + ": listen must be HOST:PORT");
  }
  text("database", config.database);
  if (config.database.empty()) throw ConfigError(path + ": database is required");
  text("broker", config.brokerUrl);
  text("broker_user", config.brokerUser);
  text("broker_ca_file", config.caFile);
  text("client_id", config.clientId);
  std::string passwordFile;
  text("broker_password_file", passwordFile);
  if (!passwordFile.empty()) config.brokerPassword = ReadSecretFile(passwordFile, path + ": ");
  if (const auto* node = table.get("session_expiry")) {
    const auto value = node->value<std::int64_t>();
    if (!value || *value < 0 || *value > 0xffffffffLL) {
      throw ConfigError(Where(path, node->source()) + "session_expiry must be seconds");
    }
    config.sessionExpirySeconds = static_cast<std::uint32_t>(*value);
  }
  if (const auto* tokens = table.get_as<toml::array>("token")) {
    for (const auto& entry : *tokens) {
      const auto* token = entry.as_table();
      const auto where = Where(path, entry.source());
      if (!token) throw ConfigError(where + "[[token]] must be a table");
      Token parsed;
      parsed.name = token->get("name") ? token->get("name")->value_or(std::string()) : "";
      if (const auto* secret = token->get("secret")) {
        parsed.secret = secret->value_or(std::string());
      } else if (const auto* file = token->get("secret_file")) {
        parsed.secret = ReadSecretFile(file->value_or(std::string()), where);
      }
      const std::string role =
          token->get("role") ? token->get("role")->value_or(std::string()) : "view";
      if (role == "admin") {
        parsed.role = Role::Admin;
      } else if (role != "view") {
        throw ConfigError(where + "role must be view or admin");
      }
      if (parsed.name.empty()) throw ConfigError(where + "a token needs a name");
      if (parsed.secret.size() < kShortestSecret) {
        throw ConfigError(where + "the secret of " + parsed.name + " is shorter than 16");
      }
      config.tokens.push_back(std::move(parsed));
    }
  }
  return config;
}

}  // namespace quorlan::hq
