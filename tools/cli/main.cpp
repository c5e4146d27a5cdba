// quorlan: drive dispensers of the Quorlan protocol from a terminal, on serial
// lines or on the embedded simulator; serve the simulator on a
// pseudo-terminal; run a complete demo fill.

#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "Demo.h"
#include "ExitCodes.h"
#include "GlobalOptions.h"
#include "OperationCommands.h"
#include "Session.h"
#include "Shell.h"
#include "SimServer.h"
#include "station/Serve.h"

namespace {

using namespace quorlan::cli;

// Exactly one line, without the usage hint CLI11 would add.
int Fail(int code, std::string_view message) {
  std::string text(message);
  for (auto& ch : text) {
    if (ch == '\n') ch = ' ';
  }
  fmt::print(stderr, "quorlan: {}\n", text);
  return code;
}

int Run(int argc, char** argv) {
  CLI::App app{"Drive Quorlan-protocol fuel dispensers from a terminal"};
  app.name("quorlan");
  GlobalOptions global;
  AddGlobalOptions(app, global);
  OperationArgs args;
  std::optional<Operation> operation;
  AddOperationCommands(app, args, operation);
  auto* demo = app.add_subcommand("demo", "A complete fill on the embedded simulator, live");
  auto* shell = app.add_subcommand("shell", "Type commands on one session, one per line");
  SimArgs simArgs;
  auto* sim = AddSimCommand(app, simArgs);
  const quorlan::station::ServeCommand serve(app);
  app.require_subcommand(1);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    return Fail(kExitUsage, error.what());
  }

  if (sim->parsed()) return RunSimServer(global, simArgs);
  if (demo->parsed()) return RunDemo(global);
  if (serve.Parsed()) return serve.Run();
  Session session(global);
  if (shell->parsed()) return RunShell(session);
  RunOperation(session, *operation, args);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const UsageError& error) {
    return Fail(kExitUsage, error.what());
  } catch (const OperationError& error) {
    return Fail(kExitOperationFailed, error.what());
  } catch (const LineSetupError& error) {
    return Fail(kExitLineSetup, error.what());
  } catch (const std::exception& error) {
    return Fail(kExitInternal, error.what());
  }
}
