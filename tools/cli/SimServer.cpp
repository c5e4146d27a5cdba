#include "SimServer.h"

#include <fmt/format.h>
#include <poll.h>
#include <unistd.h>

#include <system_error>

#include "ExitCodes.h"
#include "Hex.h"
#include "NozzleEvents.h"
#include "Signals.h"
#include "sim/PtyServer.h"

namespace quorlan::cli {

namespace {

constexpr int kStdinPollMs = 200;

void ReactTo(sim::Line& line, const std::string& text) {
  if (text.find_first_not_of(" \t\r") == std::string::npos) return;
  CLI::App app{"nozzle events"};
  NozzleEvent event;
  bool chosen = false;
  AddNozzleEventCommands(app, event, chosen);
  try {
    app.parse(text, false);
    if (chosen) fmt::print(stderr, "{}\n", ApplyNozzleEvent(line, event));
  } catch (const CLI::ParseError& error) {
    fmt::print(stderr, "quorlan sim: {}: expected lift D [NOZZLE] or hang D\n", text);
  } catch (const UsageError& error) {
    fmt::print(stderr, "quorlan sim: {}\n", error.what());
  }
}

// Nozzle events from standard input until a stop is requested; the server
// keeps serving after the input ends.
void ServeInput(sim::Line& line) {
  std::string pending;
  bool inputOpen = true;
  while (!StopRequested()) {
    if (!inputOpen) {
      SleepUnlessStopped(std::chrono::milliseconds(kStdinPollMs));
      continue;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, kStdinPollMs) <= 0) continue;
    char buffer[512];
    const auto count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
      inputOpen = false;
      continue;
    }
    pending.append(buffer, static_cast<std::size_t>(count));
    for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      ReactTo(line, pending.substr(0, end));
      pending.erase(0, end + 1);
    }
  }
}

}  // namespace

CLI::App* AddSimCommand(CLI::App& app, SimArgs& args) {
  auto* command = app.add_subcommand(
      "sim", "Serve the dispenser simulator on a pseudo-terminal; prints its path first");
  command->add_option("--dispensers", args.dispensers, "Dispensers on the line, 1..32")
      ->check(CLI::Range(1, 32));
  command->add_flag("--auto", args.autoNozzle,
                    "A nozzle lifts after an authorization and hangs when the fill ends");
  return command;
}

int RunSimServer(const GlobalOptions& options, const SimArgs& args) {
  if (!options.ports.empty()) throw UsageError("sim serves its own line: leave out --port");
  auto line = std::make_shared<sim::Line>(
      sim::LineOptions{.dispensers = args.dispensers, .autoNozzle = args.autoNozzle});
  // Paced at 9600 baud, so that a client sees a real line's timing.
  std::unique_ptr<sim::PtyServer> server;
  try {
    server = std::make_unique<sim::PtyServer>(line, sim::PtyOptions{.pacing = true});
  } catch (const std::system_error& error) {
    throw LineSetupError(fmt::format("sim: no pseudo-terminal: {}", error.what()));
  }
  if (options.trace) {
    server->SetTrace([](sim::TraceDirection direction, int, std::span<const std::uint8_t> bytes) {
      const char* mark = direction == sim::TraceDirection::Request ? "->" : "<-";
      fmt::print(stderr, "{} {}\n", mark,
                 direction == sim::TraceDirection::NoReply ? "no reply" : HexBytes(bytes));
    });
  }
  StopSignalScope signals;
  server->Start();
  fmt::print("{}\n", server->SlavePath());
  std::fflush(stdout);
  ServeInput(*line);
  server->Stop();
  return kExitOk;
}

}  // namespace quorlan::cli
