#include "station/Serve.h"

#include <fmt/format.h>
#include <httplib.h>
#include <pthread.h>
#include <systemd/sd-daemon.h>

#include <csignal>
#include <thread>

#include "station/Api.h"
#include "station/Audit.h"
#include "station/Auth.h"
#include "station/Log.h"
#include "station/Station.h"

namespace quorlan::station {

namespace {

constexpr int kExitNoListen = 1;
constexpr std::chrono::milliseconds kSignalWait{1000};

std::string Address(const StationConfig& config, int port) {
  const bool v6 = config.listenHost.find(':') != std::string::npos;
  return fmt::format("http://{}:{}/", v6 ? "[" + config.listenHost + "]" : config.listenHost, port);
}

// Waits for SIGINT or SIGTERM (blocked in every thread), pinging the
// watchdog meanwhile while the line workers keep moving.
void WaitForStop(const sigset_t& signals, Station& station) {
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
    if (watchdog) {
      const std::uint64_t beat = station.Heartbeat();
      // A stuck worker stops the pings, and systemd restarts the service.
      if (beat != lastBeat) sd_notify(0, "WATCHDOG=1");
      lastBeat = beat;
    }
  }
}

int Serve(const ServeArgs& args, const sigset_t& signals) {
  StationConfig config = args.config.empty() ? EmbeddedConfig() : LoadConfig(args.config);
  if (!args.listen.empty()) ParseListen(args.listen, config);
  if (!args.database.empty()) config.database = args.database;

  Station station(config);
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
  std::thread serving([&server] { server.listen_after_bind(); });
  std::string line = Address(config, port);
  if (config.file.empty()) line += "#token=" + config.tokens.front().secret;
  fmt::print("{}\n", line);
  std::fflush(stdout);
  sd_notify(0, "READY=1");

  WaitForStop(signals, station);

  sd_notify(0, "STOPPING=1");
  // Streams end first, so that the server's threads can finish; commands in
  // flight are answered by the workers, which stop last.
  station.Events().Close();
  server.stop();
  serving.join();
  station.Stop();
  return 0;
}

}  // namespace

int RunServe(const ServeArgs& args) {
  // Blocked before any thread starts, so that only WaitForStop takes them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  sigdelset(&signals, SIGPIPE);
  try {
    return Serve(args, signals);
  } catch (const ConfigError& error) {
    Log("{}", error.what());
    return error.ExitCode();
  }
}

ServeCommand::ServeCommand(CLI::App& app)
    : command_(app.add_subcommand("serve", "Run the station service: HTTP API over every line")) {
  command_->add_option("--config", args_.config, "Station configuration (TOML)");
  command_->add_option("--listen", args_.listen, "HOST:PORT to listen on (default 127.0.0.1:8617)");
  command_->add_option("--db", args_.database, "The station database (SQLite)");
}

}  // namespace quorlan::station
