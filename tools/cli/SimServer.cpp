#include "SimServer.h"

#include <fmt/format.h>
#include <poll.h>
#include <unistd.h>

#include <system_error>

#include "Arguments.h"
#include "ExitCodes.h"
#include "FaultSpec.h"
#include "GaugeSim.h"
#include "Hex.h"
#include "NozzleEvents.h"
#include "Signals.h"
#include "sim/PtyServer.h"

namespace quorlan::cli {

namespace {

constexpr int kStdinPollMs = 200;

constexpr const char* kInputHelp =
    "Standard input, one a line: lift D [NOZZLE], hang D, fault D:REQUEST:KIND[:VALUE][:once], "
    "clear D (drops the dispenser's faults).";

void ReactTo(sim::Line& line, const std::string& text) {
  if (text.find_first_not_of(" \t\r") == std::string::npos) return;
  CLI::App app{"nozzle events and faults"};
  NozzleEvent event;
  bool chosen = false;
  AddNozzleEventCommands(app, event, chosen);
  std::string fault;
  app.add_subcommand("fault")->add_option("spec", fault)->required();
  int cleared = 0;
  app.add_subcommand("clear")->add_option("dispenser", cleared)->required();
  try {
    app.parse(text, false);
    if (chosen) {
      fmt::print(stderr, "{}\n", ApplyNozzleEvent(line, event));
    } else if (!fault.empty()) {
      const auto spec = ParseFaultSpec(fault, line.Dispensers());
      line.InjectFault(spec.dispenser, spec.request, spec.fault);
      fmt::print(stderr, "{}\n", Describe(spec));
    } else if (cleared >= 1 && cleared <= line.Dispensers()) {
      line.ClearFaults(cleared);
      fmt::print(stderr, "dispenser {}: faults cleared\n", cleared);
    } else {
      fmt::print(stderr, "quorlan sim: clear {}: no such dispenser\n", cleared);
    }
  } catch (const CLI::ParseError& error) {
    fmt::print(stderr, "quorlan sim: {}: not understood. {}\n", Shown(text), kInputHelp);
  } catch (const UsageError& error) {
    fmt::print(stderr, "quorlan sim: {}\n", error.what());
  }
}

}  // namespace

void ServeInputLines(const std::function<void(const std::string&)>& react) {
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
      react(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
  }
}

CLI::App* AddSimCommand(CLI::App& app, SimArgs& args) {
  auto* command = app.add_subcommand(
      "sim", "Serve the dispenser simulator on a pseudo-terminal; prints its path first");
  auto* dispensers =
      command->add_option("--dispensers", args.dispensers, "Dispensers on the line, 1..32")
          ->check(CLI::Range(1, 32));
  auto* autoNozzle =
      command->add_flag("--auto", args.autoNozzle,
                        "A nozzle lifts after an authorization and hangs when the fill ends");
  command->add_flag("--unpaced", args.unpaced,
                    "Each reply at once, in one write, without the line's timing (for tests on "
                    "a busy machine)");
  auto* faults =
      command
          ->add_option("--fault", args.faults,
                       "A dispenser misbehaves, from the start (repeatable): " + FaultHelp() +
                           "; once: only the next such request")
          ->type_name("D:REQUEST:KIND[:VALUE][:once]");
  // The tank gauge instead: its options need it, and the dispensers' go without it.
  auto* gauge =
      command->add_flag("--gauge", args.gauge,
                        "Serve a simulated tank gauge instead of dispensers (docs/simulator.md)");
  gauge->excludes(dispensers)->excludes(autoNozzle)->excludes(faults);
  const std::vector<CLI::Option*> gaugeOptions{
      command->add_option("--tanks", args.tanks, "--gauge: tanks 1..N of 20,000 l, 60 % full")
          ->check(CLI::Range(1, 16)),
      command
          ->add_option("--tcp", args.tcpPort,
                       "--gauge: serve on 127.0.0.1:PORT (0: a free port) instead of a "
                       "pseudo-terminal; prints tcp://127.0.0.1:PORT")
          ->check(CLI::Range(0, 65535)),
      command->add_option("--units", args.units, "--gauge: answer in metric (default) or us units")
          ->check(CLI::IsMember({"metric", "us"})),
      command->add_option("--security-code-file", args.securityCodeFile,
                          "--gauge: answer only commands with the code in this file's first line"),
      command
          ->add_option(
              "--gauge-fault", args.gaugeFaults,
              "--gauge: the gauge misbehaves, from the start (repeatable): " + GaugeFaultHelp())
          ->type_name("FUNCTION:KIND[:MS][:once]")};
  for (auto* option : gaugeOptions) option->needs(gauge);
  command->footer(std::string(kInputHelp) +
                  "\nEach is acknowledged on stderr; the server keeps running after its input "
                  "ends.\nExample: quorlan sim --dispensers 4 --auto --fault 4:status:noreply "
                  "--fault 2:totals:short:20\nWith --gauge: deliver T LITRES, water T MM, leak T "
                  "LITRES_PER_HOUR, fault FUNCTION:KIND[:MS][:once], clear.\n");
  return command;
}

int RunSimServer(const GlobalOptions& options, const SimArgs& args) {
  if (!options.ports.empty()) throw UsageError("sim serves its own line: leave out --port");
  if (args.gauge) return RunGaugeSim(options, args);
  auto line = std::make_shared<sim::Line>(
      sim::LineOptions{.dispensers = args.dispensers, .autoNozzle = args.autoNozzle});
  for (const auto& text : args.faults) {
    const auto spec = ParseFaultSpec(text, args.dispensers);
    line->InjectFault(spec.dispenser, spec.request, spec.fault);
  }
  // Paced at 9600 baud, so that a client sees a real line's timing, unless
  // asked to answer at once.
  std::unique_ptr<sim::PtyServer> server;
  try {
    server = std::make_unique<sim::PtyServer>(line, sim::PtyOptions{.pacing = !args.unpaced});
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
  ServeInputLines([&line](const std::string& text) { ReactTo(*line, text); });
  server->Stop();
  return kExitOk;
}

}  // namespace quorlan::cli
