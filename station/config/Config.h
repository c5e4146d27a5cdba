#pragma once
// The station's configuration: its lines, its tokens, where it listens and
// where it keeps its database. Read from TOML, or the embedded default of
// one simulated line.

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/RotatingCapture.h"
#include "quorlan/Driver.h"
#include "station/base/Money.h"

namespace quorlan::fleet {
struct FleetConfig;
}

namespace quorlan::station {

enum class Role : std::uint8_t { View, Operate, Admin };

struct TokenConfig {
  std::string name;
  std::string secret;
  Role role = Role::View;
};

// The port of a simulated line.
inline constexpr std::string_view kSimulatedPort = "sim";

struct LineConfig {
  int channel = 1;
  std::string port;  // a device path, or kSimulatedPort
  int portLine = 0;  // where the port stands in the file, for the start error
  std::vector<int> dispensers;
  int nozzleMode = 1;
  std::vector<int> nozzles{1, 2, 3, 4};  // present on each dispenser of the line
  bool echo = false;                     // the adapter hears its own requests
  std::string capture;                   // pcap files of the line's bytes; empty: none
  int captureLine = 0;                   // where the capture stands in the file
  pcap::Rotation captureRotation;
};

// A grade's name for the dashboard, the journal and reports.
struct GradeConfig {
  int number = 1;  // 1..8
  std::string name;
};

// One dispenser's price of a grade in the starting book, resolved from the
// file's [[price]] entries: the dispenser's own, else its line's, else the
// station's.
struct StartingPrice {
  int channel = 0;
  int dispenser = 0;
  int grade = 0;
  Cents price = 0;
  friend bool operator==(const StartingPrice&, const StartingPrice&) = default;
};

struct StationConfig {
  std::string file;  // empty: the embedded default
  std::string listenHost = "127.0.0.1";
  int listenPort = 8617;
  std::string database = "quorlan-station.db";
  std::string driverLog;  // empty: no driver log
  LogLevel driverLogLevel = LogLevel::Info;
  std::string auditLog;     // empty: standard error
  bool auditReads = false;  // GET, HEAD and OPTIONS requests in the audit log too
  std::string currency;     // ISO 4217 code; empty: none shown
  std::string timezone;     // IANA zone; empty: the system's
  // Completed unpaid fills a dispenser may hold before it refuses an
  // authorization; 0: no limit.
  int unpaidLimit = 0;
  std::string tlsCertificate;  // both or neither: HTTPS only
  std::string tlsKey;
  int tlsKeyLine = 0;                    // where the key stands in the file, for the pair's check
  std::vector<std::string> corsOrigins;  // none: no cross-origin answer
  int maxConnections = 256;
  int maxConnectionsPerClient = 32;
  // A completed fill unpaid this long raises the drive-off alarm; 0: off.
  std::chrono::seconds driveOffAfter{0};
  // A dispenser failing this long degrades health; one failed exchange
  // under load does not.
  std::chrono::seconds unansweredAfter{10};
  std::vector<GradeConfig> grades;
  std::vector<LineConfig> lines;
  std::vector<TokenConfig> tokens;
  // The book a new station starts with; taken only while the journal holds
  // no price at all, so that a price changed since is never overwritten.
  std::vector<StartingPrice> startingPrices;
  // [fleet]: where the station reports to head office; none: nowhere.
  std::shared_ptr<const fleet::FleetConfig> fleet;
};

// One line for the operator; the exit code the start ends with.
class ConfigError : public std::runtime_error {
 public:
  ConfigError(int exitCode, const std::string& message)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int ExitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

inline constexpr int kExitConfig = 2;
inline constexpr int kExitPort = 3;
inline constexpr std::size_t kMinSecretLength = 16;

// A configuration file read whole: every problem found, one line each
// ("file:line: problem"), in the order of the file's lines.
struct ConfigReport {
  StationConfig config;
  std::vector<std::string> problems;
};

// Reads the file and the tokens' secret files, and opens nothing else;
// with `checkDevices` also notes serial ports that do not exist.
ConfigReport ReadConfig(const std::string& path, bool checkDevices = false);
// ReadConfig that throws ConfigError naming every problem, a line each.
StationConfig LoadConfig(const std::string& path);
// One simulated line (channel 1, dispensers 1..4) and one admin token, fresh
// each start.
StationConfig EmbeddedConfig();
// "HOST:PORT" ("[::1]:8617" for IPv6); throws ConfigError.
void ParseListen(const std::string& text, StationConfig& config);
// 32 random bytes as 64 hexadecimal digits.
std::string GenerateSecret();

}  // namespace quorlan::station
