#include "station/config/Config.h"

#include <fmt/format.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "quorlan/Driver.h"
#include "station/base/Zone.h"
#include "station/fleet/FleetConfig.h"

namespace quorlan::station {

namespace {

int LineOf(const toml::node& node) {
  return static_cast<int>(node.source().begin.line);
}

// The longest a grade's name may be: it has to fit a till's receipt line.
constexpr std::size_t kMaxGradeName = 32;
constexpr int kMaxUnpaidLimit = 1000;
constexpr int kMostConnections = 65535;
constexpr int kMostCaptureMegabytes = 4096;
constexpr int kMostCaptureFiles = 1000;
constexpr std::uint64_t kMegabyte = 1024 * 1024;

// Hundredths as the file writes them: "0.01".
std::string Decimal(Cents cents) {
  return fmt::format("{}.{:02}", cents / 100, cents % 100);
}

// Reads what it can of every key and notes each problem instead of stopping
// at the first, so that one check tells an installer everything.
class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  void Problem(int line, std::string problem) { problems_.push_back({line, std::move(problem)}); }

  // "file:line: problem", in the order of the lines; problems of the whole
  // file last.
  std::vector<std::string> Problems() const {
    auto sorted = problems_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Noted& a, const Noted& b) {
      return (a.line == 0 ? INT_MAX : a.line) < (b.line == 0 ? INT_MAX : b.line);
    });
    std::vector<std::string> lines;
    for (const Noted& noted : sorted) {
      lines.push_back(noted.line > 0 ? fmt::format("{}:{}: {}", file_, noted.line, noted.text)
                                     : fmt::format("{}: {}", file_, noted.text));
    }
    return lines;
  }

  void CheckKeys(const toml::table& table, std::initializer_list<std::string_view> known,
                 std::string_view section) {
    for (auto&& [key, value] : table) {
      if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
        Problem(LineOf(value), fmt::format("unknown key '{}'{}", key.str(), section));
      }
    }
  }

  // Nothing, noted, when the key is missing (with fallbackLine > 0) or not a
  // string.
  std::optional<std::string> String(const toml::table& table, std::string_view key,
                                    int fallbackLine) {
    const toml::node* node = table.get(key);
    if (!node) {
      if (fallbackLine > 0) Problem(fallbackLine, fmt::format("missing '{}'", key));
      return std::nullopt;
    }
    if (!node->is_string()) {
      Problem(LineOf(*node), fmt::format("'{}' must be a string", key));
      return std::nullopt;
    }
    return node->as_string()->get();
  }

  std::optional<std::string> OptionalString(const toml::table& table, std::string_view key) {
    return String(table, key, 0);
  }

  std::optional<int> Integer(const toml::node& node, std::string_view key, int low, int high) {
    if (!node.is_integer()) {
      Problem(LineOf(node), fmt::format("'{}' must be an integer", key));
      return std::nullopt;
    }
    const std::int64_t value = node.as_integer()->get();
    if (value < low || value > high) {
      Problem(LineOf(node), fmt::format("'{}' must be {}..{}", key, low, high));
      return std::nullopt;
    }
    return static_cast<int>(value);
  }

  std::optional<int> OptionalInteger(const toml::table& table, std::string_view key, int low,
                                     int high) {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    return Integer(*node, key, low, high);
  }

  // A list of distinct numbers low..high, at least one.
  std::optional<std::vector<int>> Numbers(const toml::node& node, std::string_view key,
                                          std::string_view what, int low, int high) {
    if (!node.is_array() || node.as_array()->empty()) {
      Problem(LineOf(node), fmt::format("'{}' must be a list of {}s", key, what));
      return std::nullopt;
    }
    std::vector<int> numbers;
    bool whole = true;
    for (const toml::node& item : *node.as_array()) {
      const auto number = Integer(item, key, low, high);
      if (!number) {
        whole = false;
      } else if (std::find(numbers.begin(), numbers.end(), *number) != numbers.end()) {
        Problem(LineOf(item), fmt::format("{} {} twice in '{}'", what, *number, key));
        whole = false;
      } else {
        numbers.push_back(*number);
      }
    }
    if (!whole) return std::nullopt;
    return numbers;
  }

  const toml::array& Tables(const toml::table& root, std::string_view key) {
    static const toml::array kNone;
    const toml::node* node = root.get(key);
    if (!node) return kNone;
    if (!node->is_array_of_tables()) {
      Problem(LineOf(*node), fmt::format("'{}' must be an array of tables ([[{}]])", key, key));
      return kNone;
    }
    return *node->as_array();
  }

  LineConfig Line(const toml::table& table) {
    const int at = LineOf(table);
    CheckKeys(table,
              {"channel", "port", "dispensers", "nozzle_mode", "nozzles", "echo", "capture",
               "capture_size_mb", "capture_files"},
              " in [[line]]");
    LineConfig line;
    line.channel = 0;
    if (const toml::node* channel = table.get("channel")) {
      line.channel = Integer(*channel, "channel", 1, kLastChannel).value_or(0);
    } else {
      Problem(at, "[[line]] needs a 'channel'");
    }
    line.port = String(table, "port", at).value_or("");
    if (const toml::node* port = table.get("port")) line.portLine = LineOf(*port);
    if (const toml::node* dispensers = table.get("dispensers")) {
      line.dispensers = Numbers(*dispensers, "dispensers", "dispenser", 1, kLastDispenser)
                            .value_or(std::vector<int>{});
    } else {
      Problem(at, "[[line]] needs 'dispensers'");
    }
    line.nozzleMode = OptionalInteger(table, "nozzle_mode", 0, 255).value_or(line.nozzleMode);
    if (const toml::node* nozzles = table.get("nozzles")) {
      line.nozzles =
          Numbers(*nozzles, "nozzles", "nozzle", 1, int{kLastNozzle}).value_or(line.nozzles);
    }
    if (const toml::node* echo = table.get("echo")) {
      if (echo->is_boolean()) {
        line.echo = echo->as_boolean()->get();
      } else {
        Problem(LineOf(*echo), "'echo' must be true or false");
      }
    }
    Capture(table, line);
    return line;
  }

  void Capture(const toml::table& table, LineConfig& line) {
    const int megabytes = OptionalInteger(table, "capture_size_mb", 1, kMostCaptureMegabytes)
                              .value_or(int(line.captureRotation.maxBytes / kMegabyte));
    line.captureRotation.maxBytes = std::uint64_t(megabytes) * kMegabyte;
    line.captureRotation.keep = OptionalInteger(table, "capture_files", 0, kMostCaptureFiles)
                                    .value_or(line.captureRotation.keep);
    const toml::node* node = table.get("capture");
    if (!node) {
      for (const char* key : {"capture_size_mb", "capture_files"}) {
        if (table.get(key))
          Problem(LineOf(*table.get(key)), fmt::format("'{}' needs 'capture'", key));
      }
      return;
    }
    const auto path = WritableFile(table, "capture");
    if (!path) return;
    line.capture = *path;
    line.captureLine = LineOf(*node);
  }

  // The path of a file the service creates or appends to, when its folder
  // lets it; nothing, noted, otherwise, so that the start does not fail on
  // it later.
  std::optional<std::string> WritableFile(const toml::table& table, std::string_view key) {
    const auto path = String(table, key, 0);
    if (!path) return std::nullopt;
    const int at = LineOf(*table.get(key));
    namespace fs = std::filesystem;
    const fs::path file(*path);
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code error;
    if (path->empty() || !file.has_filename()) {
      Problem(at, fmt::format("'{}' must name a file", key));
    } else if (!fs::is_directory(folder, error)) {
      Problem(at,
              fmt::format("'{}' {}: the folder {} does not exist", key, *path, folder.string()));
    } else if (access(folder.c_str(), W_OK) != 0) {
      Problem(at,
              fmt::format("'{}' {}: the folder {} cannot be written", key, *path, folder.string()));
    } else if (fs::is_directory(file, error)) {
      Problem(at, fmt::format("'{}' {} is a folder", key, *path));
    } else if (fs::exists(file, error) && access(file.c_str(), W_OK) != 0) {
      Problem(at, fmt::format("'{}' {} cannot be written", key, *path));
    } else {
      return path;
    }
    return std::nullopt;
  }

  // A [[price]] as written: channel and dispenser 0 where it leaves them out.
  struct PriceRule {
    int line = 0;
    StartingPrice price;
  };

  std::optional<PriceRule> Price(const toml::table& table) {
    const int at = LineOf(table);
    const std::size_t before = problems_.size();
    CheckKeys(table, {"grade", "price", "channel", "dispenser"}, " in [[price]]");
    PriceRule rule;
    rule.line = at;
    if (const toml::node* grade = table.get("grade")) {
      rule.price.grade = Integer(*grade, "grade", 1, int{kLastGrade}).value_or(0);
    } else {
      Problem(at, "[[price]] needs a 'grade'");
    }
    if (const toml::node* price = table.get("price")) {
      std::optional<Cents> cents;
      if (price->is_integer() && price->as_integer()->get() >= 0 &&
          price->as_integer()->get() <= kHighestPrice) {
        cents = price->as_integer()->get() * 100;
      } else if (price->is_floating_point()) {
        cents = ExactCents(price->as_floating_point()->get());
      }
      if (cents && *cents >= kLowestPrice && *cents <= kHighestPrice) {
        rule.price.price = *cents;
      } else {
        Problem(LineOf(*price), fmt::format("'price' must be {}..{} with at most two decimals",
                                            Decimal(kLowestPrice), Decimal(kHighestPrice)));
      }
    } else {
      Problem(at, "[[price]] needs a 'price'");
    }
    rule.price.channel = OptionalInteger(table, "channel", 1, kLastChannel).value_or(0);
    if (const toml::node* dispenser = table.get("dispenser")) {
      rule.price.dispenser = Integer(*dispenser, "dispenser", 1, kLastDispenser).value_or(0);
      if (!table.get("channel")) Problem(LineOf(*dispenser), "'dispenser' needs 'channel'");
    }
    if (problems_.size() != before) return std::nullopt;
    return rule;
  }

  std::optional<TokenConfig> Token(const toml::table& table) {
    const int at = LineOf(table);
    const std::size_t before = problems_.size();
    CheckKeys(table, {"name", "secret", "secret_file", "role"}, " in [[token]]");
    TokenConfig token;
    token.name = String(table, "name", at).value_or("");
    if (table.get("name") && table.get("name")->is_string() && token.name.empty()) {
      Problem(at, "a token needs a name");
    }
    if (const auto role = String(table, "role", at)) {
      if (*role == "view") {
        token.role = Role::View;
      } else if (*role == "operate") {
        token.role = Role::Operate;
      } else if (*role == "admin") {
        token.role = Role::Admin;
      } else {
        Problem(LineOf(*table.get("role")), "'role' must be view, operate or admin");
      }
    }
    const auto secret = OptionalString(table, "secret");
    const auto secretFile = OptionalString(table, "secret_file");
    const bool secretGiven = table.get("secret") != nullptr;
    const bool fileGiven = table.get("secret_file") != nullptr;
    if (secretGiven == fileGiven) {
      Problem(at,
              fmt::format("token '{}' needs exactly one of 'secret' or 'secret_file'", token.name));
    } else if (secret) {
      token.secret = *secret;
      CheckSecretLength(token, at);
    } else if (secretFile) {
      std::ifstream in(*secretFile);
      if (!in) {
        Problem(LineOf(*table.get("secret_file")),
                fmt::format("cannot read the secret file of token '{}'", token.name));
      } else {
        std::getline(in, token.secret);
        while (!token.secret.empty() &&
               std::isspace(static_cast<unsigned char>(token.secret.back()))) {
          token.secret.pop_back();
        }
        CheckSecretLength(token, at);
      }
    }
    if (problems_.size() != before) return std::nullopt;
    return token;
  }

  std::optional<GradeConfig> Grade(const toml::table& table) {
    const int at = LineOf(table);
    const std::size_t before = problems_.size();
    CheckKeys(table, {"number", "name"}, " in [[grade]]");
    GradeConfig grade;
    if (const toml::node* number = table.get("number")) {
      grade.number = Integer(*number, "number", 1, int{kLastGrade}).value_or(0);
    } else {
      Problem(at, "[[grade]] needs a 'number'");
    }
    if (const auto name = String(table, "name", at)) {
      grade.name = *name;
      if (grade.name.empty() || grade.name.size() > kMaxGradeName) {
        Problem(LineOf(*table.get("name")),
                fmt::format("a grade's 'name' must be 1..{} characters", kMaxGradeName));
      }
    }
    if (problems_.size() != before) return std::nullopt;
    return grade;
  }

  const std::string& File() const { return file_; }

 private:
  struct Noted {
    int line = 0;
    std::string text;
  };

  void CheckSecretLength(const TokenConfig& token, int at) {
    // The length is said, never the secret.
    if (token.secret.size() < kMinSecretLength) {
      Problem(at, fmt::format("the secret of token '{}' is shorter than {} characters", token.name,
                              kMinSecretLength));
    }
  }

  std::string file_;
  std::vector<Noted> problems_;
};

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

bool Readable(const std::string& path) {
  return access(path.c_str(), R_OK) == 0;
}

void ReadRoot(Reader& reader, const toml::table& root, StationConfig& config) {
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

void ReadFleet(Reader& reader, const toml::table& root, StationConfig& config) {
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

std::string Scope(const StartingPrice& price) {
  if (price.dispenser != 0)
    return fmt::format("on dispenser {}/{}", price.channel, price.dispenser);
  if (price.channel != 0) return fmt::format("on channel {}", price.channel);
  return "for the station";
}

// Each configured dispenser's price of each grade the [[price]] entries
// give, the most particular entry winning.
void ReadPrices(Reader& reader, const toml::table& root, StationConfig& config) {
  std::map<std::tuple<int, int, int>, Cents> rules;  // channel, dispenser, grade
  for (const toml::node& node : reader.Tables(root, "price")) {
    const auto rule = reader.Price(*node.as_table());
    if (!rule) continue;
    const StartingPrice& price = rule->price;
    const auto line = std::find_if(config.lines.begin(), config.lines.end(),
                                   [&](const LineConfig& l) { return l.channel == price.channel; });
    if (price.channel != 0 && line == config.lines.end()) {
      reader.Problem(rule->line,
                     fmt::format("[[price]]: channel {} has no [[line]]", price.channel));
    } else if (price.dispenser != 0 && std::find(line->dispensers.begin(), line->dispensers.end(),
                                                 price.dispenser) == line->dispensers.end()) {
      reader.Problem(rule->line, fmt::format("[[price]]: channel {} has no dispenser {}",
                                             price.channel, price.dispenser));
    } else if (!rules.emplace(std::tuple{price.channel, price.dispenser, price.grade}, price.price)
                    .second) {
      reader.Problem(rule->line,
                     fmt::format("grade {} is priced twice {}", price.grade, Scope(price)));
    }
  }
  for (const LineConfig& line : config.lines) {
    for (int d : line.dispensers) {
      for (int g = 1; g <= int{kLastGrade}; ++g) {
        for (const auto& key : {std::tuple{line.channel, d, g}, std::tuple{line.channel, 0, g},
                                std::tuple{0, 0, g}}) {
          if (const auto rule = rules.find(key); rule != rules.end()) {
            config.startingPrices.push_back({line.channel, d, g, rule->second});
            break;
          }
        }
      }
    }
  }
}

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

ConfigReport ReadConfig(const std::string& path, bool checkDevices) {
  Reader reader(path);
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

  std::set<int> grades;
  for (const toml::node& node : reader.Tables(root, "grade")) {
    const auto grade = reader.Grade(*node.as_table());
    if (!grade) continue;
    if (!grades.insert(grade->number).second) {
      reader.Problem(LineOf(*node.as_table()->get("number")),
                     fmt::format("grade {} is named twice", grade->number));
    } else {
      config.grades.push_back(*grade);
    }
  }

  std::set<int> channels;
  std::map<std::string, int> captures;  // each line writes its own files
  std::optional<bool> simulated;
  const toml::array& lineTables = reader.Tables(root, "line");
  for (const toml::node& node : lineTables) {
    const toml::table& table = *node.as_table();
    LineConfig line = reader.Line(table);
    if (line.channel != 0 && !channels.insert(line.channel).second) {
      reader.Problem(LineOf(*table.get("channel")),
                     fmt::format("channel {} is configured twice", line.channel));
    }
    if (!line.port.empty()) {
      const bool isSimulated = line.port == kSimulatedPort;
      // One driver serves every line through one transport.
      if (simulated && *simulated != isSimulated) {
        reader.Problem(line.portLine, "simulated and serial lines cannot be mixed");
      }
      simulated = simulated.value_or(isSimulated);
      if (isSimulated && (line.echo || !line.capture.empty())) {
        reader.Problem(line.portLine,
                       "'echo' and 'capture' need a serial port: the simulated line has no wire");
      }
      std::error_code error;
      if (checkDevices && !isSimulated && !std::filesystem::exists(line.port, error)) {
        reader.Problem(line.portLine, fmt::format("port {} does not exist", line.port));
      }
    }
    if (!line.capture.empty()) {
      std::error_code error;
      const auto absolute = std::filesystem::absolute(line.capture, error).lexically_normal();
      const auto [at, fresh] = captures.emplace(absolute.string(), line.channel);
      if (!fresh) {
        reader.Problem(line.captureLine,
                       fmt::format("capture {} is channel {}'s already", line.capture, at->second));
      }
    }
    config.lines.push_back(std::move(line));
  }
  if (lineTables.empty() && !root.get("line")) {
    reader.Problem(0, "no [[line]] configured");
  }
  ReadPrices(reader, root, config);
  std::set<std::string> names;
  for (const toml::node& node : reader.Tables(root, "token")) {
    const auto token = reader.Token(*node.as_table());
    if (!token) continue;
    if (!names.insert(token->name).second) {
      reader.Problem(LineOf(node), fmt::format("token '{}' is configured twice", token->name));
    }
    config.tokens.push_back(*token);
  }
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
