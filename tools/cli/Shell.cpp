#include "Shell.h"

#include <fmt/format.h>

#include <iostream>
#include <string>

#include "LiveTable.h"
#include "NozzleEvents.h"
#include "OperationCommands.h"

namespace quorlan::cli {

namespace {

// One parser per line, so no option value leaks into the next command.
struct LineParser {
  CLI::App app{"Commands, one per line; quit (or end of input) ends the shell"};
  OperationArgs args;
  std::optional<Operation> operation;
  NozzleEvent event;
  bool nozzleEvent = false;

  explicit LineParser(bool simulated) {
    app.name("");
    AddOperationCommands(app, args, operation);
    if (simulated) AddNozzleEventCommands(app, event, nozzleEvent);
    app.add_subcommand("quit", "End the shell");
    app.require_subcommand(1);
  }
};

void ReportError(const std::exception& error) {
  std::string text = error.what();
  for (auto& ch : text) {
    if (ch == '\n') ch = ' ';
  }
  fmt::print(stderr, "quorlan: {}\n", text);
  std::fflush(stderr);
}

// Runs one line; false when the shell should end.
bool RunLine(Session& session, const std::string& line) {
  LineParser parser(session.EmbeddedLine() != nullptr);
  try {
    parser.app.parse(line, false);
  } catch (const CLI::CallForHelp&) {
    fmt::print("{}", parser.app.help());
    return true;
  } catch (const CLI::ParseError& error) {
    ReportError(error);
    return true;
  }
  if (parser.app.got_subcommand("quit")) return false;
  try {
    if (parser.operation) {
      RunOperation(session, *parser.operation, parser.args);
    } else if (parser.nozzleEvent) {
      fmt::print("{}\n", ApplyNozzleEvent(*session.EmbeddedLine(), parser.event));
    }
  } catch (const UsageError& error) {
    ReportError(error);
  } catch (const OperationError& error) {
    ReportError(error);
  }
  return true;
}

}  // namespace

int RunShell(Session& session) {
  const bool interactive = IsTerminal(stdin);
  if (interactive) {
    fmt::print("quorlan shell on {}; help lists the commands, quit ends\n",
               session.EmbeddedLine() ? "the embedded simulator (channel 1)" : "the serial ports");
  }
  std::string line;
  for (;;) {
    if (interactive) fmt::print("quorlan> ");
    std::fflush(stdout);
    if (!std::getline(std::cin, line)) break;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    if (line.substr(first).starts_with("help") &&
        line.find_first_not_of(" \t\r", first + 4) == std::string::npos) {
      line = "--help";
    }
    if (!RunLine(session, line)) break;
  }
  return kExitOk;
}

}  // namespace quorlan::cli
