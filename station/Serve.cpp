#include "station/Serve.h"

#include <fmt/format.h>
#include <httplib.h>
#include <pthread.h>
#include <systemd/sd-daemon.h>

#include <algorithm>
#include <csignal>
#include <thread>

#include "station/Api.h"
#include "station/Audit.h"
#include "station/Auth.h"
#include "station/DatabaseLock.h"
#include "station/FleetLink.h"
#include "station/Log.h"
#include "station/Station.h"

namespace quorlan::station {

namespace {

constexpr int kExitNoListen = 1;
constexpr int kExitFailure = 1;  // any other failure of the start
constexpr std::chrono::milliseconds kSignalWait{1000};

std::string Address(const StationConfig& config, int port) {
  const bool v6 = config.listenHost.find(':') != std::string::npos;
  return fmt::format("http://{}:{}/", v6 ? "[" + config.listenHost + "]" : config.listenHost, port);
}

// SIGHUP, for logrotate and for tokens changed in the configuration. The
// driver's log is opened by name for every line and follows a rotation by
// itself; the audit log reopens here.
// TODO(lead): re-read the [[token]] entries into the Authenticator, close
// a withdrawn token's streams, and name other changed keys on stderr.
void OnHangUp(AuditLog& audit) {
  audit.Reopen();
}

// Waits for SIGINT or SIGTERM (blocked in every thread), pinging the
// watchdog meanwhile while the line workers keep moving.
void WaitForStop(const sigset_t& signals, Station& station, AuditLog& audit) {
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
    if (signal == SIGHUP) OnHangUp(audit);
    if (watchdog) {
      const std::uint64_t beat = station.Heartbeat();
      // A stuck worker stops the pings, and systemd restarts the service.
      if (beat != lastBeat) sd_notify(0, "WATCHDOG=1");
      lastBeat = beat;
    }
  }
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

  // Before anything is written; declared first, so released last, after the
  // database is closed.
  DatabaseLock databaseLock(config.database);
  Station station(config);
  // Before the lines start: every change from then on reaches head office.
  std::unique_ptr<FleetLink> fleet;
  if (config.fleet) fleet = std::make_unique<FleetLink>(station, *config.fleet);
  AuditLog audit(config.auditLog);
  const Authenticator authenticator(config.tokens);
  httplib::Server server;
  Api api(station, authenticator, audit);
  api.Register(server);
  int port = config.listenPort;
  if (port == 0) {
    port = server.bind_to_any_port(config.listenHost);
  } else if (!server.bind_to_port(config.listenHost, port)) {
    port = -1;
  }
  if (port <= 0) {
    Log("cannot listen on {}:{}", config.listenHost, config.listenPort);
    return kExitNoListen;
  }

  station.Start();
  if (fleet) fleet->Start();
  databaseLock.Keep();
  std::thread serving([&server] { server.listen_after_bind(); });
  std::string line = Address(config, port);
  if (config.file.empty()) line += "#token=" + config.tokens.front().secret;
  fmt::print("{}\n", line);
  std::fflush(stdout);
  sd_notify(0, "READY=1");

  WaitForStop(signals, station, audit);

  sd_notify(0, "STOPPING=1");
  // Streams end first, so that the server's threads can finish; commands in
  // flight are answered by the workers, which stop last.
  station.Events().Close();
  server.stop();
  serving.join();
  station.Stop();
  // After the lines: a price push under way gets its answer first.
  if (fleet) fleet->Stop();
  return 0;
}

}  // namespace

int RunServe(const ServeArgs& args) {
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
  command_->add_option("--config", args_.config, "Station configuration (TOML)");
  command_->add_option("--listen", args_.listen, "HOST:PORT to listen on (default 127.0.0.1:8617)");
  command_->add_option("--db", args_.database, "The station database (SQLite)");
  command_->add_flag("--check", args_.check,
                     "Report every problem of the configuration, one line each, and exit (0: "
                     "none, 2: some); opens and creates nothing");
}

}  // namespace quorlan::station
