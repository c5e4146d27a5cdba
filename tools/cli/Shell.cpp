#include "Shell.h"

#include <fmt/format.h>

#include <sstream>
#include <string>

#include "Arguments.h"
#include "ErrorReport.h"
#include "LineReader.h"
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
    app.add_subcommand("help", "List the commands, or show one: help COMMAND");
    app.add_subcommand("quit", "End the shell");
    app.require_subcommand(1);
  }
};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

enum class LineResult { Done, Failed, Quit };

// "help" lists the commands, "help COMMAND" shows one.
void ShowHelp(LineParser& parser, const std::vector<std::string>& words) {
  if (words.size() < 2) {
    fmt::print("{}", parser.app.help());
    return;
  }
  try {
    fmt::print("{}", parser.app.get_subcommand(words[1])->help());
  } catch (const CLI::OptionNotFound&) {
    throw UsageError(ExplainParseError(parser.app, CLI::ExtrasError({words[1]}), {words[1]}));
  }
}

LineResult RunLine(Session& session, const std::string& line) {
  const auto words = Words(line);
  const bool json = HasJsonFlag(words);
  LineParser parser(session.EmbeddedLine() != nullptr);
  try {
    if (words.front() == "help") {
      ShowHelp(parser, words);
      return LineResult::Done;
    }
    try {
      parser.app.parse(line, false);
    } catch (const CLI::CallForHelp&) {
      fmt::print("{}", parser.app.help());
      return LineResult::Done;
    } catch (const CLI::ParseError& error) {
      throw UsageError(ExplainParseError(parser.app, error, words));
    }
    if (parser.app.got_subcommand("quit")) return LineResult::Quit;
    if (parser.operation) {
      RunOperation(session, *parser.operation, parser.args);
    } else if (parser.nozzleEvent) {
      fmt::print("{}\n", ApplyNozzleEvent(*session.EmbeddedLine(), parser.event));
    }
    return LineResult::Done;
  } catch (const UsageError& error) {
    ReportError(error.what(), kExitUsage, json);
  } catch (const OperationError& error) {
    ReportError(error.what(), kExitOperationFailed, json);
  }
  return LineResult::Failed;
}

}  // namespace

int RunShell(Session& session) {
  LineReader reader;
  if (reader.Interactive()) {
    fmt::print("quorlan shell on {}; help lists the commands, help COMMAND shows one, quit ends\n",
               session.EmbeddedLine() ? "the embedded simulator (channel 1)" : "the serial ports");
  }
  int failures = 0;
  while (auto line = reader.Next("quorlan> ")) {
    std::fflush(stdout);
    // A comment starts with a word beginning with '#'.
    for (auto hash = line->find('#'); hash != std::string::npos; hash = line->find('#', hash + 1)) {
      if (hash == 0 || (*line)[hash - 1] == ' ' || (*line)[hash - 1] == '\t') {
        line->erase(hash);
        break;
      }
    }
    if (line->find_first_not_of(" \t\r") == std::string::npos) continue;
    const auto result = RunLine(session, *line);
    if (result == LineResult::Quit) break;
    if (result == LineResult::Failed) ++failures;
  }
  // A script that had a failed command must not pass for a good run.
  return failures > 0 && !reader.Interactive() ? kExitOperationFailed : kExitOk;
}

}  // namespace quorlan::cli
