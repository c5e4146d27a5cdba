#include "station/Config.h"

#include <fmt/format.h>
#include <toml++/toml.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "quorlan/Driver.h"

namespace quorlan::station {

namespace {

// Names the file and the line of a node; every start error reads the same.
[[noreturn]] void Fail(const std::string& file, int line, const std::string& problem) {
  const std::string where = line > 0 ? fmt::format("{}:{}: ", file, line) : file + ": ";
  throw ConfigError(kExitConfig, where + problem);
}

int LineOf(const toml::node& node) {
  return static_cast<int>(node.source().begin.line);
}

class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  void CheckKeys(const toml::table& table, std::initializer_list<std::string_view> known,
                 std::string_view section) {
    for (auto&& [key, value] : table) {
      if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
        Fail(file_, LineOf(value), fmt::format("unknown key '{}'{}", key.str(), section));
      }
    }
  }

  std::string String(const toml::table& table, std::string_view key, int fallbackLine) {
    const toml::node* node = table.get(key);
    if (!node) Fail(file_, fallbackLine, fmt::format("missing '{}'", key));
    if (!node->is_string()) Fail(file_, LineOf(*node), fmt::format("'{}' must be a string", key));
    return node->as_string()->get();
  }

  std::optional<std::string> OptionalString(const toml::table& table, std::string_view key) {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    return String(table, key, 0);
  }

  int Integer(const toml::node& node, std::string_view key, int low, int high) {
    if (!node.is_integer()) Fail(file_, LineOf(node), fmt::format("'{}' must be an integer", key));
    const std::int64_t value = node.as_integer()->get();
    if (value < low || value > high) {
      Fail(file_, LineOf(node), fmt::format("'{}' must be {}..{}", key, low, high));
    }
    return static_cast<int>(value);
  }

  const toml::array& Tables(const toml::table& root, std::string_view key) {
    static const toml::array kNone;
    const toml::node* node = root.get(key);
    if (!node) return kNone;
    if (!node->is_array_of_tables()) {
      Fail(file_, LineOf(*node), fmt::format("'{}' must be an array of tables ([[{}]])", key, key));
    }
    return *node->as_array();
  }

  LineConfig Line(const toml::table& table) {
    const int at = LineOf(table);
    CheckKeys(table, {"channel", "port", "dispensers", "nozzle_mode", "nozzles"}, " in [[line]]");
    LineConfig line;
    const toml::node* channel = table.get("channel");
    if (!channel) Fail(file_, at, "[[line]] needs a 'channel'");
    line.channel = Integer(*channel, "channel", 1, kLastChannel);
    line.port = String(table, "port", at);
    line.portLine = LineOf(*table.get("port"));
    const toml::node* dispensers = table.get("dispensers");
    if (!dispensers) Fail(file_, at, "[[line]] needs 'dispensers'");
    if (!dispensers->is_array() || dispensers->as_array()->empty()) {
      Fail(file_, LineOf(*dispensers), "'dispensers' must be a list of addresses");
    }
    std::set<int> seen;
    for (const toml::node& address : *dispensers->as_array()) {
      const int d = Integer(address, "dispensers", 1, kLastDispenser);
      if (!seen.insert(d).second)
        Fail(file_, LineOf(address), fmt::format("dispenser {} twice", d));
      line.dispensers.push_back(d);
    }
    if (const toml::node* mode = table.get("nozzle_mode")) {
      line.nozzleMode = Integer(*mode, "nozzle_mode", 0, 255);
    }
    if (const toml::node* nozzles = table.get("nozzles")) {
      if (!nozzles->is_array() || nozzles->as_array()->empty()) {
        Fail(file_, LineOf(*nozzles), "'nozzles' must be a list of nozzle numbers");
      }
      line.nozzles.clear();
      std::set<int> present;
      for (const toml::node& nozzle : *nozzles->as_array()) {
        const int n = Integer(nozzle, "nozzles", 1, kLastNozzle);
        if (!present.insert(n).second)
          Fail(file_, LineOf(nozzle), fmt::format("nozzle {} twice", n));
        line.nozzles.push_back(n);
      }
    }
    return line;
  }

  TokenConfig Token(const toml::table& table) {
    const int at = LineOf(table);
    CheckKeys(table, {"name", "secret", "secret_file", "role"}, " in [[token]]");
    TokenConfig token;
    token.name = String(table, "name", at);
    if (token.name.empty()) Fail(file_, at, "a token needs a name");
    const std::string role = String(table, "role", at);
    if (role == "view") {
      token.role = Role::View;
    } else if (role == "operate") {
      token.role = Role::Operate;
    } else if (role == "admin") {
      token.role = Role::Admin;
    } else {
      Fail(file_, LineOf(*table.get("role")), "'role' must be view, operate or admin");
    }
    const auto secret = OptionalString(table, "secret");
    const auto secretFile = OptionalString(table, "secret_file");
    if (secret.has_value() == secretFile.has_value()) {
      Fail(file_, at,
           fmt::format("token '{}' needs exactly one of 'secret' or 'secret_file'", token.name));
    }
    if (secret) {
      token.secret = *secret;
    } else {
      std::ifstream in(*secretFile);
      if (!in) {
        Fail(file_, LineOf(*table.get("secret_file")),
             fmt::format("cannot read the secret file of token '{}'", token.name));
      }
      std::getline(in, token.secret);
      while (!token.secret.empty() &&
             std::isspace(static_cast<unsigned char>(token.secret.back()))) {
        token.secret.pop_back();
      }
    }
    // The length is said, never the secret.
    if (token.secret.size() < kMinSecretLength) {
      Fail(file_, at,
           fmt::format("the secret of token '{}' is shorter than {} characters", token.name,
                       kMinSecretLength));
    }
    return token;
  }

  void Grade(const toml::table& table, StationConfig& config) {
    const int at = LineOf(table);
    CheckKeys(table, {"number", "name"}, " in [[grade]]");
    const toml::node* number = table.get("number");
    if (!number) Fail(file_, at, "[[grade]] needs a 'number'");
    const int grade = Integer(*number, "number", 1, kLastGrade);
    const std::string name = String(table, "name", at);
    if (!config.grades.emplace(grade, name).second) {
      Fail(file_, LineOf(*number), fmt::format("grade {} is named twice", grade));
    }
  }

  // "90s", "10m", "2h".
  std::chrono::seconds Duration(const toml::table& table, std::string_view key) {
    const std::string text = String(table, key, 0);
    const int at = LineOf(*table.get(key));
    std::size_t used = 0;
    long long count = -1;
    try {
      count = std::stoll(text, &used);
    } catch (const std::exception&) {
    }
    const std::string unit = used < text.size() ? text.substr(used) : "";
    const int scale = unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : 0;
    if (count <= 0 || count > 7 * 24 * 3600 || scale == 0) {
      Fail(file_, at, fmt::format("'{}' must be a duration like \"90s\", \"10m\" or \"2h\"", key));
    }
    return std::chrono::seconds(count * scale);
  }

  const std::string& File() const { return file_; }

 private:
  std::string file_;
};

}  // namespace

void ParseListen(const std::string& text, StationConfig& config) {
  const auto colon = text.rfind(':');
  std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  int number = -1;
  if (!port.empty() && port.size() <= 5 &&
      port.find_first_not_of("0123456789") == std::string::npos) {
    number = std::stoi(port);
  }
  if (host.empty() || number < 0 || number > 65535) {
    throw ConfigError(kExitConfig, fmt::format("listen '{}': expected HOST:PORT", text));
  }
  config.listenHost = host;
  config.listenPort = number;
}

StationConfig LoadConfig(const std::string& path) {
  Reader reader(path);
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& error) {
    Fail(path, static_cast<int>(error.source().begin.line), std::string(error.description()));
  }
  StationConfig config;
  config.file = path;
  reader.CheckKeys(root,
                   {"listen", "database", "driver_log", "audit_log", "line", "token", "currency",
                    "unpaid_limit", "grade", "drive_off_after"},
                   "");
  if (const auto listen = reader.OptionalString(root, "listen")) {
    try {
      ParseListen(*listen, config);
    } catch (const ConfigError& error) {
      Fail(path, LineOf(*root.get("listen")), error.what());
    }
  }
  if (const auto database = reader.OptionalString(root, "database")) config.database = *database;
  if (const auto log = reader.OptionalString(root, "driver_log")) config.driverLog = *log;
  if (const auto log = reader.OptionalString(root, "audit_log")) config.auditLog = *log;
  if (const auto currency = reader.OptionalString(root, "currency")) {
    const bool code =
        currency->size() == 3 && std::all_of(currency->begin(), currency->end(),
                                             [](char c) { return c >= 'A' && c <= 'Z'; });
    if (!code)
      Fail(path, LineOf(*root.get("currency")), "'currency' must be an ISO 4217 code like \"EUR\"");
    config.currency = *currency;
  }
  if (const toml::node* limit = root.get("unpaid_limit")) {
    config.unpaidLimit = reader.Integer(*limit, "unpaid_limit", 0, kMaxUnpaidLimit);
  }
  if (root.get("drive_off_after")) config.driveOffAfter = reader.Duration(root, "drive_off_after");
  for (const toml::node& node : reader.Tables(root, "grade"))
    reader.Grade(*node.as_table(), config);

  std::set<int> channels;
  for (const toml::node& node : reader.Tables(root, "line")) {
    const toml::table& table = *node.as_table();
    config.lines.push_back(reader.Line(table));
    if (!channels.insert(config.lines.back().channel).second) {
      Fail(path, LineOf(*table.get("channel")),
           fmt::format("channel {} is configured twice", config.lines.back().channel));
    }
  }
  if (config.lines.empty()) Fail(path, 0, "no [[line]] configured");
  std::set<std::string> names;
  for (const toml::node& node : reader.Tables(root, "token")) {
    config.tokens.push_back(reader.Token(*node.as_table()));
    if (!names.insert(config.tokens.back().name).second) {
      Fail(path, LineOf(node),
           fmt::format("token '{}' is configured twice", config.tokens.back().name));
    }
  }
  return config;
}

std::string GenerateSecret() {
  std::random_device random;  // the kernel's generator on Linux
  std::string secret;
  for (int i = 0; i < 8; ++i) secret += fmt::format("{:08x}", random());
  return secret;
}

StationConfig EmbeddedConfig() {
  StationConfig config;
  config.lines.push_back(LineConfig{.channel = 1,
                                    .port = std::string(kSimulatedPort),
                                    .portLine = 0,
                                    .dispensers = {1, 2, 3, 4},
                                    .nozzleMode = 1});
  config.tokens.push_back(TokenConfig{"admin", GenerateSecret(), Role::Admin});
  return config;
}

}  // namespace quorlan::station
