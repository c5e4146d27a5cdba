// SPDX-License-Identifier: Apache-2.0
// The keys at the top of the file.

#include <fmt/format.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <utility>

#include "station/base/Zone.h"
#include "station/config/Config.h"
#include "station/config/Sections.h"

namespace quorlan::station {

namespace {

constexpr int kMaxUnpaidLimit = 1000;
constexpr int kMostConnections = 65535;

// Three capital letters, the shape of every ISO 4217 code.
bool IsCurrencyCode(const std::string& text) {
  return text.size() == 3 &&
         std::all_of(text.begin(), text.end(), [](char ch) { return ch >= 'A' && ch <= 'Z'; });
}

// An IANA zone name such as "Europe/Berlin" that the zone database knows.
bool IsKnownZone(const std::string& name) {
  return !name.empty() && Zone::Find(name).has_value();
}

// "scheme://host[:port]" exactly as a browser sends it in Origin.
bool IsOrigin(const std::string& text) {
  static const std::regex kOrigin(
      R"(https?://[A-Za-z0-9.-]+(:[0-9]{1,5})?|https?://\[[0-9A-Fa-f:.]+\](:[0-9]{1,5})?)");
  return std::regex_match(text, kOrigin);
}

// "90s", "10m", "1h30m": whole seconds, minutes and hours.
std::optional<std::chrono::seconds> ParseDuration(const std::string& text) {
  static const std::regex kPart(R"(([0-9]{1,6})([hms]))");
  std::chrono::seconds total{0};
  auto begin = std::sregex_iterator(text.begin(), text.end(), kPart);
  std::size_t covered = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    if (static_cast<std::size_t>(it->position()) != covered) return std::nullopt;
    covered += static_cast<std::size_t>(it->length());
    const long value = std::stol((*it)[1].str());
    const char unit = (*it)[2].str().front();
    total += std::chrono::seconds(value * (unit == 'h' ? 3600 : unit == 'm' ? 60 : 1));
  }
  if (covered == 0 || covered != text.size()) return std::nullopt;
  return total;
}

}  // namespace

void ReadRoot(TomlReader& reader, const toml::table& root, StationConfig& config) {
  reader.CheckKeys(root,
                   {"listen",
                    "database",
                    "driver_log",
                    "driver_log_level",
                    "audit_log",
                    "audit_reads",
                    "currency",
                    "timezone",
                    "unpaid_limit",
                    "tls_cert",
                    "tls_key",
                    "cors_origins",
                    "max_connections",
                    "max_connections_per_client",
                    "drive_off_after",
                    "unanswered_after",
                    "grade",
                    "price",
                    "line",
                    "token",
                    "fleet"},
                   "");
  const auto lineOf = [&root](std::string_view key) { return LineOf(*root.get(key)); };
  if (const auto listen = reader.OptionalString(root, "listen")) {
    try {
      ParseListen(*listen, config);
    } catch (const ConfigError& error) {
      reader.Problem(lineOf("listen"), error.what());
    }
  }
  // --db may stand in for it: the start names a database it cannot open.
  if (const auto database = reader.OptionalString(root, "database")) config.database = *database;
  if (const auto log = reader.WritableFile(root, "driver_log")) config.driverLog = *log;
  if (const auto level = reader.OptionalString(root, "driver_log_level")) {
    if (*level == "info") {
      config.driverLogLevel = LogLevel::Info;
    } else if (*level == "trace") {
      config.driverLogLevel = LogLevel::Trace;
    } else {
      reader.Problem(lineOf("driver_log_level"), "'driver_log_level' must be info or trace");
    }
  }
  if (const auto log = reader.WritableFile(root, "audit_log")) config.auditLog = *log;
  if (const toml::node* reads = root.get("audit_reads")) {
    if (reads->is_boolean()) {
      config.auditReads = reads->as_boolean()->get();
    } else {
      reader.Problem(LineOf(*reads), "'audit_reads' must be true or false");
    }
  }
  if (const auto currency = reader.OptionalString(root, "currency")) {
    if (IsCurrencyCode(*currency)) {
      config.currency = *currency;
    } else {
      reader.Problem(lineOf("currency"), "'currency' must be an ISO 4217 code such as \"EUR\"");
    }
  }
  if (const auto zone = reader.OptionalString(root, "timezone")) {
    if (IsKnownZone(*zone)) {
      config.timezone = *zone;
    } else {
      reader.Problem(
          lineOf("timezone"),
          fmt::format("'timezone' {} is not a known time zone (e.g. \"Europe/Berlin\")", *zone));
    }
  }
  config.unpaidLimit =
      reader.OptionalInteger(root, "unpaid_limit", 0, kMaxUnpaidLimit).value_or(config.unpaidLimit);
  const auto certificate = reader.OptionalString(root, "tls_cert");
  const auto key = reader.OptionalString(root, "tls_key");
  if (root.get("tls_cert") != nullptr && root.get("tls_key") == nullptr) {
    reader.Problem(lineOf("tls_cert"), "'tls_cert' needs 'tls_key' too");
  } else if (root.get("tls_key") != nullptr && root.get("tls_cert") == nullptr) {
    reader.Problem(lineOf("tls_key"), "'tls_key' needs 'tls_cert' too");
  } else if (certificate && key) {
    bool readable = true;
    const std::pair<const char*, std::string> files[] = {{"tls_cert", *certificate},
                                                         {"tls_key", *key}};
    for (const auto& [name, path] : files) {
      if (!Readable(path)) {
        reader.Problem(lineOf(name), fmt::format("cannot read '{}' {}", name, path));
        readable = false;
      }
    }
    if (readable) {
      config.tlsCertificate = *certificate;
      config.tlsKey = *key;
      config.tlsKeyLine = lineOf("tls_key");
    }
  }
  if (const toml::node* origins = root.get("cors_origins")) {
    if (!origins->is_array()) {
      reader.Problem(LineOf(*origins), "'cors_origins' must be a list of origins");
    } else {
      for (const toml::node& origin : *origins->as_array()) {
        if (origin.is_string() && IsOrigin(origin.as_string()->get())) {
          config.corsOrigins.push_back(origin.as_string()->get());
        } else {
          reader.Problem(
              LineOf(origin),
              "each of 'cors_origins' must be an origin such as \"https://pos.example\"");
        }
      }
    }
  }
  config.maxConnections = reader.OptionalInteger(root, "max_connections", 1, kMostConnections)
                              .value_or(config.maxConnections);
  config.maxConnectionsPerClient =
      reader.OptionalInteger(root, "max_connections_per_client", 1, kMostConnections)
          .value_or(config.maxConnectionsPerClient);
  if (config.maxConnectionsPerClient > config.maxConnections) {
    const char* key =
        root.get("max_connections_per_client") ? "max_connections_per_client" : "max_connections";
    reader.Problem(lineOf(key), "'max_connections_per_client' must not exceed 'max_connections'");
  }
  if (const auto after = reader.OptionalString(root, "unanswered_after")) {
    const auto duration = ParseDuration(*after);
    if (duration && duration->count() > 0) {
      config.unansweredAfter = *duration;
    } else {
      reader.Problem(lineOf("unanswered_after"),
                     "'unanswered_after' must be a time such as \"10s\" or \"1m\"");
    }
  }
  if (const auto after = reader.OptionalString(root, "drive_off_after")) {
    const auto duration = ParseDuration(*after);
    if (duration && duration->count() > 0) {
      config.driveOffAfter = *duration;
    } else {
      reader.Problem(lineOf("drive_off_after"),
                     "'drive_off_after' must be a time such as \"10m\", \"90s\" or \"1h30m\"");
    }
  }
}

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

}  // namespace quorlan::station
