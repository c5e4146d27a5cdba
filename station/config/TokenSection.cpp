// SPDX-License-Identifier: Apache-2.0
// [[token]]: a name, a role and exactly one secret, given or in a file.

#include <fmt/format.h>

#include <cctype>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "station/config/Config.h"
#include "station/config/Sections.h"

namespace quorlan::station {

namespace {

void CheckSecretLength(TomlReader& reader, const TokenConfig& token, int at) {
  // The length is said, never the secret.
  if (token.secret.size() < kMinSecretLength) {
    reader.Problem(at, fmt::format("the secret of token '{}' is shorter than {} characters",
                                   token.name, kMinSecretLength));
  }
}

std::optional<TokenConfig> Token(TomlReader& reader, const toml::table& table) {
  const int at = LineOf(table);
  const std::size_t before = reader.ProblemCount();
  reader.CheckKeys(table, {"name", "secret", "secret_file", "role"}, " in [[token]]");
  TokenConfig token;
  token.name = reader.String(table, "name", at).value_or("");
  if (table.get("name") && table.get("name")->is_string() && token.name.empty()) {
    reader.Problem(at, "a token needs a name");
  }
  if (const auto role = reader.String(table, "role", at)) {
    if (*role == "view") {
      token.role = Role::View;
    } else if (*role == "operate") {
      token.role = Role::Operate;
    } else if (*role == "admin") {
      token.role = Role::Admin;
    } else {
      reader.Problem(LineOf(*table.get("role")), "'role' must be view, operate or admin");
    }
  }
  const auto secret = reader.OptionalString(table, "secret");
  const auto secretFile = reader.OptionalString(table, "secret_file");
  const bool secretGiven = table.get("secret") != nullptr;
  const bool fileGiven = table.get("secret_file") != nullptr;
  if (secretGiven == fileGiven) {
    reader.Problem(
        at, fmt::format("token '{}' needs exactly one of 'secret' or 'secret_file'", token.name));
  } else if (secret) {
    token.secret = *secret;
    CheckSecretLength(reader, token, at);
  } else if (secretFile) {
    std::ifstream in(*secretFile);
    if (!in) {
      reader.Problem(LineOf(*table.get("secret_file")),
                     fmt::format("cannot read the secret file of token '{}'", token.name));
    } else {
      std::getline(in, token.secret);
      while (!token.secret.empty() &&
             std::isspace(static_cast<unsigned char>(token.secret.back()))) {
        token.secret.pop_back();
      }
      CheckSecretLength(reader, token, at);
    }
  }
  if (reader.ProblemCount() != before) return std::nullopt;
  return token;
}

}  // namespace

void ReadTokens(TomlReader& reader, const toml::table& root, StationConfig& config) {
  std::set<std::string> names;
  for (const toml::node& node : reader.Tables(root, "token")) {
    const auto token = Token(reader, *node.as_table());
    if (!token) continue;
    if (!names.insert(token->name).second) {
      reader.Problem(LineOf(node), fmt::format("token '{}' is configured twice", token->name));
    }
    config.tokens.push_back(*token);
  }
}

}  // namespace quorlan::station
