#include "ErrorReport.h"

#include <fmt/format.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "Arguments.h"
#include "GlobalOptions.h"

namespace quorlan::cli {

namespace {

std::vector<std::string> CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const auto* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    names.push_back(command->get_name());
  }
  return names;
}

bool IsGlobalOption(std::string_view arg) {
  const auto& names = GlobalOptionNames();
  const auto name = arg.substr(0, arg.find('='));
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool TakesValue(std::string_view option) {
  return option == "--port" || option == "--log" || option == "--prices-file";
}

}  // namespace

void ReportError(std::string_view message, int exitCode, bool json) {
  if (json) {
    fmt::print("{}\n", nlohmann::json{{"error", message}, {"exit_code", exitCode}}.dump());
    std::fflush(stdout);
  }
  fmt::print(stderr, "quorlan: {}\n", message);
  std::fflush(stderr);
}

std::string ExplainParseError(const CLI::App& app, const CLI::ParseError& error,
                              const std::vector<std::string>& args) {
  const auto names = CommandNames(app);
  // The command is the first word that is not a global option or its value.
  std::size_t at = 0;
  while (at < args.size() && args[at].starts_with("-")) {
    at += TakesValue(args[at]) && args[at].find('=') == std::string::npos ? 2 : 1;
  }
  if (at < args.size() && std::find(names.begin(), names.end(), args[at]) == names.end()) {
    auto text = fmt::format("unknown command {}", Shown(args[at]));
    const auto nearest = NearestName(args[at], names);
    if (!nearest.empty()) text += fmt::format("; did you mean {}?", nearest);
    return text;
  }
  for (std::size_t i = 0; i < at && at < args.size(); ++i) {
    const auto option = args[i].substr(0, args[i].find('='));
    if (option.starts_with("-") && !IsGlobalOption(option) && option != "--help" &&
        option != "-h") {
      return fmt::format("{} is an option of the command: give it after {}", Shown(option),
                         args[at]);
    }
  }
  for (std::size_t i = at + 1; i < args.size(); ++i) {
    if (IsGlobalOption(args[i])) {
      const auto option = args[i].substr(0, args[i].find('='));
      // The example carries the value as typed, so that it can be copied.
      std::string given = Shown(args[i]);
      if (TakesValue(option) && args[i].find('=') == std::string::npos) {
        given += " " + (i + 1 < args.size() ? Shown(args[i + 1]) : std::string("VALUE"));
      }
      return fmt::format(
          "{} is a global option: give it before the command, as in quorlan {} {} "
          "...",
          option, given, at < args.size() ? args[at] : "COMMAND");
    }
  }
  return ShownMessage(error.what(), args);
}

bool HasJsonFlag(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--json") != args.end();
}

}  // namespace quorlan::cli
