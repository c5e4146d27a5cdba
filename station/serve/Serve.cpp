#include "station/serve/Serve.h"

#include <fmt/format.h>
#include <pthread.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <thread>

#include "station/api/Api.h"
#include "station/app/Station.h"
#include "station/base/Log.h"
#include "station/http/Server.h"
#include "station/http/Tls.h"
#include "station/journal/DatabaseLock.h"
#include "station/metrics/Metrics.h"
#include "station/router/Audit.h"
#include "station/router/Auth.h"
#include "station/uplink/FleetLink.h"

namespace quorlan::station {

namespace {

constexpr int kExitNoListen = 1;
constexpr int kExitFailure = 1;  // any other failure of the start
constexpr std::chrono::milliseconds kSignalWait{1000};

std::string Address(const StationConfig& config, int port, bool tls) {
  const bool v6 = config.listenHost.find(':') != std::string::npos;
  return fmt::format("{}://{}:{}/", tls ? "https" : "http",
                     v6 ? "[" + config.listenHost + "]" : config.listenHost, port);
}

constexpr unsigned kRouteThreads = 32;

http::ServerOptions FrontDoor(const StationConfig& config, const Api& api) {
  http::ServerOptions options;
  options.address = config.listenHost;
  options.port = static_cast<std::uint16_t>(config.listenPort);
  options.max_connections = static_cast<std::size_t>(config.maxConnections);
  options.max_connections_per_client = static_cast<std::size_t>(config.maxConnectionsPerClient);
  options.tls_cert = config.tlsCertificate;
  options.tls_key = config.tlsKey;
  options.cors_origins = config.corsOrigins;
  // Routes wait on the database and on the lines' workers: they keep a pool
  // of their own, so that no socket waits for them, large enough that
  // commands queued behind a slow line leave other requests a thread.
  options.handler_threads = kRouteThreads;
  // The routes say which are urgent (the stops).
  options.urgent = [&api](const http::Request& request) { return api.Urgent(request); };
  return options;
}

// The settings of `running` that differ in `read`, by their names in the
// file; tokens aside, which are taken at once.
std::vector<std::string_view> ChangedKeys(const StationConfig& running, const StationConfig& read) {
  const auto sameLines = [](const std::vector<LineConfig>& a, const std::vector<LineConfig>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
      return x.channel == y.channel && x.port == y.port && x.dispensers == y.dispensers &&
             x.nozzleMode == y.nozzleMode && x.nozzles == y.nozzles;
    });
  };
  const auto sameGrades = [](const std::vector<GradeConfig>& a, const std::vector<GradeConfig>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
      return x.number == y.number && x.name == y.name;
    });
  };
  const std::pair<std::string_view, bool> keys[] = {
      {"listen", running.listenHost != read.listenHost || running.listenPort != read.listenPort},
      {"database", running.database != read.database},
      {"driver_log", running.driverLog != read.driverLog},
      {"driver_log_level", running.driverLogLevel != read.driverLogLevel},
      {"audit_log", running.auditLog != read.auditLog},
      {"audit_reads", running.auditReads != read.auditReads},
      {"currency", running.currency != read.currency},
      {"timezone", running.timezone != read.timezone},
      {"unpaid_limit", running.unpaidLimit != read.unpaidLimit},
      {"tls_cert", running.tlsCertificate != read.tlsCertificate},
      {"tls_key", running.tlsKey != read.tlsKey},
      {"cors_origins", running.corsOrigins != read.corsOrigins},
      {"max_connections", running.maxConnections != read.maxConnections},
      {"max_connections_per_client",
       running.maxConnectionsPerClient != read.maxConnectionsPerClient},
      {"drive_off_after", running.driveOffAfter != read.driveOffAfter},
      {"unanswered_after", running.unansweredAfter != read.unansweredAfter},
      {"grade", !sameGrades(running.grades, read.grades)},
      {"line", !sameLines(running.lines, read.lines)},
  };
  std::vector<std::string_view> changed;
  for (const auto& [key, differs] : keys) {
    if (differs) changed.push_back(key);
  }
  return changed;
}

// What SIGHUP takes without a restart: the audit log reopens (logrotate; the
// driver's log is opened by name for every line and follows by itself), and
// the tokens are read again, a withdrawn token's streams closed. Any other
// change is named as waiting for a restart.
struct HangUp {
  const ServeArgs& args;
  const StationConfig& running;
  AuditLog& audit;
  Authenticator& authenticator;
  http::Server& server;

  void operator()() const {
    audit.Reopen();
    if (running.file.empty()) return;  // the embedded default has nothing to re-read
    ConfigReport report = ReadConfig(running.file);
    if (!report.problems.empty()) {
      for (const std::string& problem : report.problems) Log("{}", problem);
      Log("{}: not reloaded; the tokens stay as they were", running.file);
      return;
    }
    StationConfig& read = report.config;
    if (!args.listen.empty()) ParseListen(args.listen, read);
    if (!args.database.empty()) read.database = args.database;
    const std::vector<std::string> withdrawn = authenticator.Replace(read.tokens);
    std::size_t closed = 0;
    for (const std::string& name : withdrawn) {
      closed += server.CloseStreams(
          [&name](const http::StreamInfo& stream) { return stream.owner == name; });
    }
    Log("{}: {} tokens, {} withdrawn, {} event streams closed", running.file, read.tokens.size(),
        withdrawn.size(), closed);
    for (const std::string_view key : ChangedKeys(running, read)) {
      Log("{}: '{}' changed; it takes effect at the next start", running.file, key);
    }
  }
};

// Waits for SIGINT or SIGTERM (blocked in every thread), pinging the
// watchdog meanwhile while the line workers keep moving.
void WaitForStop(const sigset_t& signals, Station& station, const HangUp& hangUp) {
  std::uint64_t watchdogMicros = 0;
  const bool watchdog = sd_watchdog_enabled(0, &watchdogMicros) > 0 && watchdogMicros > 0;
  auto wait = kSignalWait;
  if (watchdog) {
    wait = std::min(wait, std::chrono::milliseconds(watchdogMicros / 2000 + 1));
  }
  std::uint64_t lastBeat = station.Heartbeat();
  for (;;) {
    timespec timeout{};
    timeout.tv_sec = wait.count() / 1000;
    timeout.tv_nsec = (wait.count() % 1000) * 1'000'000;
    const int signal = sigtimedwait(&signals, nullptr, &timeout);
    if (signal == SIGINT || signal == SIGTERM) return;
    if (signal == SIGHUP) hangUp();
    if (watchdog) {
      const std::uint64_t beat = station.Heartbeat();
      // A stuck worker stops the pings, and systemd restarts the service.
      if (beat != lastBeat) sd_notify(0, "WATCHDOG=1");
      lastBeat = beat;
    }
  }
}

// What the file's reading cannot see: whether the TLS key belongs to its
// certificate. Empty when it does, or when there is no TLS.
std::string CertificateProblem(const StationConfig& config) {
  const std::string why = http::CheckCertificatePair(config.tlsCertificate, config.tlsKey);
  if (why.empty()) return why;
  return config.tlsKeyLine > 0 ? fmt::format("{}:{}: {}", config.file, config.tlsKeyLine, why)
                               : fmt::format("{}: {}", config.file, why);
}

// Every problem of the configuration and the options, one line each;
// nothing is opened but the configuration and the tokens' secret files.
int Check(const ServeArgs& args) {
  ConfigReport report;
  if (args.config.empty()) {
    report.config = EmbeddedConfig();
  } else {
    report = ReadConfig(args.config, true);
  }
  if (!args.listen.empty()) {
    try {
      ParseListen(args.listen, report.config);
    } catch (const ConfigError& error) {
      report.problems.push_back(fmt::format("--{}", error.what()));
    }
  }
  if (const std::string why = CertificateProblem(report.config); !why.empty()) {
    report.problems.push_back(why);
  }
  for (const std::string& problem : report.problems) fmt::print(stderr, "{}\n", problem);
  if (!report.problems.empty()) return kExitConfig;
  fmt::print("{}: the configuration is sound\n",
             args.config.empty() ? "the embedded default" : args.config);
  return 0;
}

int Serve(const ServeArgs& args, const sigset_t& signals) {
  StationConfig config = args.config.empty() ? EmbeddedConfig() : LoadConfig(args.config);
  if (!args.listen.empty()) ParseListen(args.listen, config);
  if (!args.database.empty()) config.database = args.database;
  if (const std::string why = CertificateProblem(config); !why.empty()) {
    throw ConfigError(kExitConfig, why);
  }

  // Before anything is written; declared first, so released last, after the
  // database is closed.
  DatabaseLock databaseLock(config.database);
  Station station(config);
  // Before the lines start: every change from then on reaches head office.
  std::unique_ptr<FleetLink> fleet;
  if (config.fleet) fleet = std::make_unique<FleetLink>(station, *config.fleet);
  AuditLog audit(config.auditLog, config.auditReads);
  Authenticator authenticator(config.tokens);
  Api api(station, authenticator, audit);
  http::Server server(
      FrontDoor(config, api),
      [&api](const http::Request& request, http::Answer& answer) { api.Route(request, answer); },
      [](std::string_view route, unsigned status) {
        const std::string code = std::to_string(status);
        const std::array<std::string_view, 2> labels{route, code};
        ServiceMetrics().httpRequests.With(labels).Add();
      });
  try {
    server.Start();
  } catch (const http::ListenError& error) {
    Log("{}", error.what());
    return kExitNoListen;
  }

  station.Start();
  if (fleet) fleet->Start();
  databaseLock.Keep();
  // Printed only now that the server accepts: a client told this address is answered.
  std::string line = Address(config, server.Port(), server.Tls());
  if (config.file.empty()) line += "#token=" + config.tokens.front().secret;
  fmt::print("{}\n", line);
  std::fflush(stdout);
  sd_notify(0, "READY=1");

  WaitForStop(signals, station, HangUp{args, config, audit, authenticator, server});

  sd_notify(0, "STOPPING=1");
  // Streams end first; commands in flight are answered by the workers,
  // which stop last.
  station.Events().Close();
  api.Streams().Stop();
  server.Stop();
  station.Stop();
  // After the lines: a price push under way gets its answer first.
  if (fleet) fleet->Stop();
  return 0;
}

}  // namespace

int RunServe(const ServeArgs& args) {
  // The database (and SQLite's -wal and -shm beside it), the logs and the
  // captures hold the station's money: only the service's own user reads
  // them, whatever umask it was started with.
  umask(umask(0) | S_IRWXG | S_IRWXO);
  // Blocked before any thread starts, so that only WaitForStop takes them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  sigdelset(&signals, SIGPIPE);
  try {
    if (args.check) return Check(args);
    return Serve(args, signals);
  } catch (const ConfigError& error) {
    // One line for each problem.
    std::string_view lines = error.what();
    while (!lines.empty()) {
      const auto end = std::min(lines.find('\n'), lines.size());
      Log("{}", lines.substr(0, end));
      lines.remove_prefix(std::min(end + 1, lines.size()));
    }
    return error.ExitCode();
  } catch (const std::exception& error) {
    // E.g. an audit log that cannot be opened: said, and the stack unwound
    // so that a database this start created goes again.
    Log("{}", error.what());
    return kExitFailure;
  }
}

ServeCommand::ServeCommand(CLI::App& app)
    : command_(app.add_subcommand("serve", "Run the station service: HTTP API over every line")) {
  command_->add_option("--config", args_.config, "Station configuration (TOML)")
      ->option_text("PATH");
  command_->add_option("--listen", args_.listen, "Where to listen (default 127.0.0.1:8617)")
      ->option_text("HOST:PORT");
  command_->add_option("--db", args_.database, "The station database (SQLite)")
      ->option_text("PATH");
  command_->add_flag("--check", args_.check,
                     "Report every problem of the configuration, one line each, and exit (0: "
                     "none, 2: some); opens and creates nothing");
}

}  // namespace quorlan::station
