// What a start with a bad configuration says, and how it ends.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "Process.h"
#include "station/line/PollSchedule.h"

namespace quorlan::testing {
namespace {

struct ConfigCase {
  const char* what;
  std::string text;
  int exitCode;
  std::string message;  // part of the one line
};

const std::string kLine = "[[line]]\nchannel = 1\nport = \"sim\"\ndispensers = [1]\n";
const std::string kToken = "[[token]]\nname = \"pos\"\nrole = \"operate\"\n";

TEST(StationConfig, AStartWithABadConfigurationEndsWithOneLine) {
  const std::vector<ConfigCase> cases = {
      {"unknown key", kLine + "colour = 3\n", 2, ":5: unknown key 'colour'"},
      {"wrong type", "[[line]]\nchannel = \"one\"\nport = \"sim\"\ndispensers = [1]\n", 2,
       ":2: 'channel' must be an integer"},
      {"duplicate channel", kLine + kLine, 2, ":6: channel 1 is configured twice"},
      {"short token", kLine + kToken + "secret = \"short\"\n", 2,
       ":5: the secret of token 'pos' is shorter than 16 characters"},
      {"a name with an escape sequence",
       kLine + "[[token]]\nname = \"pos\\u001b[2J\"\nrole = \"operate\"\nsecret = \"short\"\n", 2,
       ":5: the secret of token 'pos\\x1B[2J' is shorter than 16 characters"},
      {"port that cannot be opened",
       "[[line]]\nchannel = 1\nport = \"/dev/no-such-port\"\ndispensers = [1]\n", 3,
       ":3: cannot open the port"},
      {"head office without a station id", kLine + "[fleet]\nbroker = \"mqtt://127.0.0.1:1\"\n", 2,
       ":5: fleet.station_id is required"},
      {"head office's password that cannot be read",
       kLine + "[fleet]\nbroker = \"mqtt://127.0.0.1:1\"\nstation_id = \"s-1\"\n"
               "password_file = \"/nonexistent/fleet.password\"\n",
       2, ":8: cannot read 'fleet.password_file' /nonexistent/fleet.password"},
  };
  const auto file = std::filesystem::temp_directory_path() /
                    ("quorlan-station-config-" + std::to_string(::getpid()) + ".toml");
  for (const auto& c : cases) {
    std::ofstream(file) << c.text;
    const ProcessResult result = RunQuorlan(
        {"serve", "--config", file.string(), "--db", (file.parent_path() / "unused.db").string()});
    EXPECT_EQ(result.exitCode, c.exitCode) << c.what << ": " << result.err;
    EXPECT_NE(result.err.find(file.string() + c.message), std::string::npos)
        << c.what << ": " << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << c.what;
    EXPECT_EQ(result.err.find("short\""), std::string::npos) << "a secret was shown";
    EXPECT_FALSE(std::filesystem::exists(file.parent_path() / "unused.db"))
        << c.what << ": a failed start left a database";
  }
  std::filesystem::remove(file);
  std::filesystem::remove(file.parent_path() / "unused.db");
}

// A scratch folder of its own per test process.
class Scratch {
 public:
  Scratch()
      : path_(std::filesystem::temp_directory_path() /
              ("quorlan-config-" + std::to_string(getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~Scratch() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                  std::filesystem::directory_iterator()));
  }

 private:
  std::filesystem::path path_;
};

TEST(StationConfig, ACheckReportsEveryMistakeOnItsLineAndCreatesNothing) {
  Scratch scratch;
  const std::string config = scratch.File("station.toml");
  std::ofstream(config) << "listen = \"nowhere\"\n"                             // 1
                           "currency = \"euro\"\n"                              // 2
                           "timezone = \"../../etc/passwd\"\n"                  // 3
                           "unpaid_limit = -1\n"                                // 4
                           "tls_cert = \"/etc/quorlan/tls.crt\"\n"              // 5
                           "cors_origins = [\"https://pos.example\", \"*\"]\n"  // 6
                           "max_connections = 8\n"                              // 7
                           "max_connections_per_client = 16\n"                  // 8
                           "drive_off_after = \"soon\"\n"                       // 9
                           "driver_log_level = \"debug\"\n"                     // 10
                           "colour = 3\n"                                       // 11
                           "[[grade]]\n"                                        // 12
                           "number = 9\n"                                       // 13
                           "name = \"Diesel\"\n"                                // 14
                           "[[line]]\n"                                         // 15
                           "channel = 1\n"                                      // 16
                           "port = \"sim\"\n"                                   // 17
                           "dispensers = [1, 1]\n"                              // 18
                           "nozzles = [0]\n"                                    // 19
                           "[[line]]\n"                                         // 20
                           "channel = 1\n"                                      // 21
                           "port = \"/dev/no-such-port\"\n"                     // 22
                           "dispensers = [2]\n"                                 // 23
                           "[[token]]\n"                                        // 24
                           "name = \"pos\"\n"                                   // 25
                           "role = \"boss\"\n"                                  // 26
                           "secret = \"short\"\n"                               // 27
                           "[[price]]\n"                                        // 28
                           "grade = 1\n"                                        // 29
                           "price = 52.999\n"                                   // 30
                           "[[price]]\n"                                        // 31
                           "grade = 2\n"                                        // 32
                           "price = 50\n"                                       // 33
                           "dispenser = 3\n"                                    // 34
                           "[[price]]\n"                                        // 35
                           "channel = 1\n"                                      // 36
                           "dispenser = 7\n"                                    // 37
                           "grade = 1\n"                                        // 38
                           "price = 50.5\n"                                     // 39
                           "[[price]]\n"                                        // 40
                           "channel = 2\n"                                      // 41
                           "grade = 1\n"                                        // 42
                           "price = 1\n"                                        // 43
                           "[[price]]\n"                                        // 44
                           "grade = 3\n"                                        // 45
                           "price = 5\n"                                        // 46
                           "[[price]]\n"                                        // 47
                           "grade = 3\n"                                        // 48
                           "price = 0\n";                                       // 49
  const std::vector<std::string> expected = {
      ":1: listen 'nowhere': expected HOST:PORT",
      ":2: 'currency' must be an ISO 4217 code",
      ":3: 'timezone' ../../etc/passwd is not a known time zone",
      ":4: 'unpaid_limit' must be 0..1000",
      ":5: 'tls_cert' needs 'tls_key' too",
      ":6: each of 'cors_origins' must be an origin",
      ":8: 'max_connections_per_client' must not exceed 'max_connections'",
      ":9: 'drive_off_after' must be a time",
      ":10: 'driver_log_level' must be info or trace",
      ":11: unknown key 'colour'",
      ":13: 'number' must be 1..8",
      ":18: dispenser 1 twice in 'dispensers'",
      ":19: 'nozzles' must be 1..8",
      ":21: channel 1 is configured twice",
      ":22: simulated and serial lines cannot be mixed",
      ":22: port /dev/no-such-port does not exist",
      ":24: the secret of token 'pos' is shorter than 16 characters",
      ":26: 'role' must be view, operate or admin",
      ":30: 'price' must be 0.01..99.99 with at most two decimals",
      ":34: 'dispenser' needs 'channel'",
      ":35: [[price]]: channel 1 has no dispenser 7",
      ":40: [[price]]: channel 2 has no [[line]]",
      ":49: 'price' must be 0.01..99.99 with at most two decimals",
  };
  const ProcessResult result = RunQuorlan({"serve", "--check", "--config", config});
  EXPECT_EQ(result.exitCode, 2) << result.err;
  EXPECT_EQ(result.out, "");
  const std::string lines = "\n" + result.err;
  for (const std::string& problem : expected) {
    EXPECT_NE(lines.find("\n" + config + problem), std::string::npos) << problem;
  }
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'),
            static_cast<std::ptrdiff_t>(expected.size()))
      << result.err;
  EXPECT_EQ(result.err.find("short\""), std::string::npos) << "a secret was shown";
  EXPECT_EQ(scratch.Entries(), 1u) << "a check created a file";

  // The same file as a start: every problem said, and nothing created.
  const ProcessResult start =
      RunQuorlan({"serve", "--config", config, "--db", scratch.File("station.db")});
  EXPECT_EQ(start.exitCode, 2);
  EXPECT_EQ(std::count(start.err.begin(), start.err.end(), '\n'),
            static_cast<std::ptrdiff_t>(expected.size() - 1))
      << start.err;
  EXPECT_EQ(scratch.Entries(), 1u) << "a failed start created a file";
}

TEST(StationConfig, ACheckOfASoundConfigurationSaysSoAndTakesTheNewKeys) {
  Scratch scratch;
  const std::string config = scratch.File("station.toml");
  std::ofstream(config) << "database = \"" + scratch.File("station.db") + "\"\n"
                        << "currency = \"EUR\"\nunpaid_limit = 2\ndrive_off_after = \"1h30m\"\n"
                           "cors_origins = [\"https://pos.example\", \"http://[::1]:8080\"]\n"
                           "max_connections = 64\nmax_connections_per_client = 64\n"
                           "driver_log_level = \"trace\"\n"
                           "audit_log = \"" +
                               scratch.File("audit.log") +
                               "\"\n"
                               "[[grade]]\nnumber = 1\nname = \"Diesel\"\n"
                               "[[line]]\nchannel = 1\nport = \"sim\"\ndispensers = [1, 2]\n"
                               "nozzles = [1, 2]\n";
  const ProcessResult result = RunQuorlan({"serve", "--check", "--config", config});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find("sound"), std::string::npos) << result.out;
  EXPECT_EQ(scratch.Entries(), 1u) << "a check created a file";
  const ProcessResult embedded = RunQuorlan({"serve", "--check", "--listen", "nowhere"});
  EXPECT_EQ(embedded.exitCode, 2);
  EXPECT_EQ(embedded.err, "--listen 'nowhere': expected HOST:PORT\n");
}

// A start that fails after the configuration was read (a log that cannot
// be opened, a port, a database folder) leaves no file of its own behind.
TEST(StationConfig, AStartThatFailsLeavesNothingItCreated) {
  struct Case {
    const char* what;
    std::string extra;  // root keys
    std::string database;
    std::string port;
    int exitCode;
    std::string message;
  };
  Scratch scratch;
  const Case cases[] = {
      {"audit log in no folder", "audit_log = \"" + scratch.File("none/audit.log") + "\"\n",
       scratch.File("station.db"), "sim", 2,
       "the folder " + scratch.File("none") + " does not exist"},
      {"port", "", scratch.File("station.db"), "/dev/no-such-port", 3, "cannot open the port"},
      {"database in no folder", "", scratch.File("none/station.db"), "sim", 2,
       "cannot open the database"},
      {"driver log in a folder that is a file",
       "driver_log = \"" + scratch.File("station.toml/driver.log") + "\"\n",
       scratch.File("station.db"), "sim", 2, "does not exist"},
  };
  for (const Case& c : cases) {
    const std::string config = scratch.File("station.toml");
    std::ofstream(config) << "database = \"" << c.database << "\"\n"
                          << c.extra << "[[line]]\nchannel = 1\nport = \"" << c.port
                          << "\"\ndispensers = [1]\n";
    const ProcessResult result =
        RunQuorlan({"serve", "--config", config, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(result.exitCode, c.exitCode) << c.what << ": " << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.what << ": " << result.err;
    EXPECT_EQ(scratch.Entries(), 1u) << c.what << ": a failed start left a file";
  }
}

// A TLS key that is not its certificate's is a mistake of the
// configuration: the check names it on the key's line, and a start ends
// with the same line and exit 2 before it creates anything.
TEST(StationConfig, ACheckLoadsTheCertificateAndKeyAsAPair) {
  Scratch scratch;
  for (const char* name : {"a", "b"}) {
    const std::string make = fmt::format(
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
        "-days 1 -subj /CN=localhost -keyout '{0}' -out '{1}' 2>/dev/null",
        scratch.File(std::string(name) + ".key"), scratch.File(std::string(name) + ".crt"));
    ASSERT_EQ(std::system(make.c_str()), 0);
  }
  struct Case {
    const char* key;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {"a.key", 0, ""},
      {"b.key", 2, ":2: tls_key " + scratch.File("b.key") + ": does not match the certificate"},
      {"a.crt", 2, ":2: tls_key " + scratch.File("a.crt") + ": holds no PEM private key"},
  };
  const std::string config = scratch.File("station.toml");
  for (const Case& c : cases) {
    std::ofstream(config) << "tls_cert = \"" << scratch.File("a.crt") << "\"\n"
                          << "tls_key = \"" << scratch.File(c.key) << "\"\n"
                          << kLine;
    const ProcessResult check = RunQuorlan({"serve", "--check", "--config", config});
    EXPECT_EQ(check.exitCode, c.exitCode) << c.key << ": " << check.err;
    if (c.exitCode == 0) continue;
    EXPECT_EQ(check.err.rfind(config + c.message, 0), 0u) << c.key << ": " << check.err;
    EXPECT_EQ(std::count(check.err.begin(), check.err.end(), '\n'), 1) << check.err;
    const ProcessResult start = RunQuorlan({"serve", "--config", config, "--listen", "127.0.0.1:0",
                                            "--db", scratch.File("station.db")});
    EXPECT_EQ(start.exitCode, 2) << c.key << ": " << start.err;
    EXPECT_NE(start.err.find(config + c.message), std::string::npos) << start.err;
    EXPECT_FALSE(std::filesystem::exists(scratch.File("station.db"))) << c.key;
  }
}

// Waits until the service whose address line this is answers: a signal
// sent before its accept loop runs could be lost on the HTTP server.
bool Answers(const std::string& address) {
  const auto colon = address.rfind(':');
  if (address.rfind("http://127.0.0.1:", 0) != 0 || colon == std::string::npos) return false;
  httplib::Client client("127.0.0.1", std::stoi(address.substr(colon + 1)));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (const auto reply = client.Get("/api/v1/health"); reply && reply->status == 200) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// One service per database: a second start on it ends at once and takes
// nothing from the first, which runs on (SIGHUP included) and ends cleanly;
// once it has, the database is free again.
TEST(StationDatabase, ASecondServiceOnTheSameDatabaseExitsTwoAndTheFirstRunsOn) {
  Scratch scratch;
  const std::string database = scratch.File("station.db");
  const std::vector<std::string> serve = {QUORLAN_CLI_PATH, "serve", "--listen",
                                          "127.0.0.1:0",    "--db",  database};
  Process first(serve);
  ASSERT_TRUE(Answers(first.ReadLine()));

  const ProcessResult second = RunQuorlan({"serve", "--listen", "127.0.0.1:0", "--db", database});
  EXPECT_EQ(second.exitCode, 2);
  EXPECT_NE(second.err.find(database + ": database in use"), std::string::npos) << second.err;
  EXPECT_EQ(std::count(second.err.begin(), second.err.end(), '\n'), 1) << second.err;
  EXPECT_EQ(second.out, "") << "the second service printed a token";
  EXPECT_TRUE(std::filesystem::exists(database)) << "the failed start removed the first's database";

  first.Signal(SIGHUP);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Finish().exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(database)) << "a started service's database is kept";

  Process third(serve);
  EXPECT_TRUE(Answers(third.ReadLine()));
  third.Signal(SIGTERM);
  EXPECT_EQ(third.Finish().exitCode, 0);
}

TEST(PollSchedule, BusyDispensersTakeEveryPollTheIdleOnesAndTheCommandsCanSpare) {
  struct Case {
    int dispensers;
    std::set<int> busy;
    std::size_t commandTurns;  // a command waits at every turn, this long; 0: none
    int busyGap;               // the longest a busy dispenser may wait, in polls' line time
    int idleGap;               // an idle one: 29/32 of two plain sweeps
    int commandGap;            // a waiting command: every 16th turn, one late for an idle one
  };
  std::set<int> allButTwo;
  for (int d = 3; d <= 32; ++d) allButTwo.insert(d);
  const Case cases[] = {
      {32, {7, 23}, 0, 6, 58, 0},
      {6, {2}, 0, 2, 12, 0},
      {32, {}, 0, 0, 32, 0},
      {32, allButTwo, 0, 32, 58, 0},
      // A shift close's reads: the filling one keeps every 4th turn (one late
      // by a turn when an idle one is due), the idle ones their sweeps.
      {32, {7}, 1, 5, 58, 7},
      {32, {}, 1, 0, 58, 3},
      {32, {7, 23}, 1, 7, 58, 17},
      {32, allButTwo, 1, 35, 58, 17},
      {6, {2}, 1, 5, 12, 4},
      // A price change: each download holds the line for 3 polls' time.
      {32, {7}, 3, 9, 60, 48},
      {32, {}, 3, 0, 60, 48},
  };
  for (const Case& c : cases) {
    std::vector<int> dispensers;
    for (int d = 1; d <= c.dispensers; ++d) dispensers.push_back(d);
    station::PollSchedule schedule(dispensers);
    for (int d : c.busy) schedule.SetBusy(d, true);
    std::map<int, int> last, longest;
    int time = 0;  // in polls' line time
    for (int turn = 0; turn < 20 * c.dispensers; ++turn) {
      const int d = schedule.Next(c.commandTurns);
      if (last.count(d)) longest[d] = std::max(longest[d], time - last[d]);
      last[d] = time;
      time += d == station::PollSchedule::kCommandTurn ? int(c.commandTurns) : 1;
    }
    const std::string where = std::to_string(c.dispensers) + " dispensers, " +
                              std::to_string(c.busy.size()) + " busy, commands of " +
                              std::to_string(c.commandTurns) + " turns";
    for (int d : dispensers) {
      const int limit = c.busy.count(d) ? c.busyGap : c.idleGap;
      EXPECT_GT(longest[d], 0) << where << ": " << d << " was starved";
      EXPECT_LE(longest[d], limit) << where << ": " << d;
    }
    EXPECT_EQ(last.count(station::PollSchedule::kCommandTurn) != 0, c.commandTurns > 0) << where;
    EXPECT_LE(longest[station::PollSchedule::kCommandTurn], c.commandGap) << where;
  }
}

TEST(PollSchedule, ACommandOnAQuietLineGoesAtOnceUnlessAnIdleOneIsDue) {
  // Whatever turn of the schedule it comes at.
  for (int quiet = 20; quiet < 40; ++quiet) {
    station::PollSchedule schedule({1, 2, 3, 4});
    schedule.SetBusy(2, true);
    for (int turn = 0; turn < quiet; ++turn) schedule.Next(0);
    const int first = schedule.Next(1);
    if (first == station::PollSchedule::kCommandTurn) continue;
    EXPECT_NE(first, 2) << "after " << quiet << " turns";
    EXPECT_EQ(schedule.Next(1), station::PollSchedule::kCommandTurn) << "after " << quiet;
  }
}

}  // namespace
}  // namespace quorlan::testing
