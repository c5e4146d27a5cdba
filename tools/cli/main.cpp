// quorlan: drive dispensers of the Quorlan protocol from a terminal, on serial
// lines or on the embedded simulator; serve the simulator on a
// pseudo-terminal; run a complete demo fill.

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <functional>

#include "Demo.h"
#include "ErrorReport.h"
#include "ExitCodes.h"
#include "GaugeCommand.h"
#include "GlobalOptions.h"
#include "OperationCommands.h"
#include "Replay.h"
#include "Scan.h"
#include "Session.h"
#include "Shell.h"
#include "SimServer.h"
#include "Tap.h"
#include "quorlan/Version.h"
#include "station/serve/Serve.h"

namespace {

using namespace quorlan::cli;

// A command that runs on its own rather than on a session of the driver.
struct StandaloneCommand {
  CLI::App* command;
  std::function<int()> run;
};

int Run(const std::vector<std::string>& args, char** argv) {
  CLI::App app{"Drive Quorlan-protocol fuel dispensers from a terminal"};
  app.name("quorlan");
  app.set_version_flag("--version", "quorlan " QUORLAN_VERSION);
  GlobalOptions global;
  AddGlobalOptions(app, global);
  OperationArgs operationArgs;
  std::optional<Operation> operation;
  AddOperationCommands(app, operationArgs, operation);
  auto* shell = app.add_subcommand("shell", "Type commands on one session, one per line");
  SimArgs simArgs;
  TapArgs tapArgs;
  ReplayArgs replayArgs;
  ScanArgs scanArgs;
  GaugeArgs gaugeArgs;
  std::vector<StandaloneCommand> standalone{
      {app.add_subcommand("demo", "A complete fill on the embedded simulator, live"),
       [&] { return RunDemo(global); }},
      {AddSimCommand(app, simArgs), [&] { return RunSimServer(global, simArgs); }},
      {AddTapCommand(app, tapArgs), [&] { return RunTap(global, tapArgs); }},
      {AddReplayCommand(app, replayArgs), [&] { return RunReplay(global, replayArgs); }},
      {AddScanCommand(app, scanArgs), [&] { return RunScan(global, scanArgs); }},
      {AddGaugeCommand(app, gaugeArgs), [&] { return RunGauge(global, gaugeArgs); }},
  };
  const quorlan::station::ServeCommand serve(app);
  app.require_subcommand(1);

  // "quorlan help [COMMAND]" is what people type first: the same as --help.
  std::vector<std::string> words(args);
  const auto command = CommandPosition(words);
  if (command < words.size() && words[command] == "help") {
    words.erase(words.begin() + long(command));
    words.emplace_back("--help");
  }
  std::vector<char*> parsed{argv[0]};
  for (auto& word : words) parsed.push_back(word.data());
  try {
    app.parse(static_cast<int>(parsed.size()), parsed.data());
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    throw UsageError(ExplainParseError(app, error, args));
  }

  for (const auto& command : standalone) {
    if (command.command->parsed()) return command.run();
  }
  ApplyEnvironment(global);
  if (serve.Parsed()) return serve.Run();
  Session session(global);
  if (shell->parsed()) return RunShell(session);
  RunOperation(session, *operation, operationArgs);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool json = HasJsonFlag(args);
  try {
    return Run(args, argv);
  } catch (const UsageError& error) {
    ReportError(error.what(), kExitUsage, json);
    return kExitUsage;
  } catch (const OperationError& error) {
    ReportError(error.what(), kExitOperationFailed, json);
    return kExitOperationFailed;
  } catch (const LineSetupError& error) {
    ReportError(error.what(), kExitLineSetup, json);
    return kExitLineSetup;
  } catch (const std::exception& error) {
    ReportError(error.what(), kExitInternal, json);
    return kExitInternal;
  }
}
