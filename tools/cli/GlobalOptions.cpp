#include "GlobalOptions.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "Arguments.h"
#include "ExitCodes.h"

namespace quorlan::cli {

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("--port", options.ports,
                 fmt::format("Serial line of a channel, [CHANNEL=]PATH (repeatable); default "
                             "${}, else the embedded simulator on channel 1",
                             kPortVariable))
      ->type_name("[CHANNEL=]PATH");
  app.add_flag("--trace", options.trace, "Hex dump of every request (->) and reply (<-) on stderr");
  app.add_flag("--echo", options.echo,
               "The serial lines' adapters hear their own requests (two-wire): read back and "
               "check each request before its reply");
  app.add_option("--log", options.logPath,
                 "Driver log file (default: $XDG_STATE_HOME/quorlan/quorlan.log, else "
                 "~/.local/state/quorlan/quorlan.log)")
      ->type_name("PATH");
  app.add_option("--prices-file", options.pricesFile,
                 "Price book to start from: a text or .toml file (docs/cli.md)")
      ->type_name("PATH");
}

const std::vector<std::string>& GlobalOptionNames() {
  static const std::vector<std::string> names{"--port", "--trace",       "--echo",
                                              "--log",  "--prices-file", "--version"};
  return names;
}

std::size_t CommandPosition(const std::vector<std::string>& args) {
  std::size_t at = 0;
  while (at < args.size() && args[at].starts_with("-")) {
    const bool valued = args[at] == "--port" || args[at] == "--log" || args[at] == "--prices-file";
    at += valued ? 2 : 1;
  }
  return std::min(at, args.size());
}

void ApplyEnvironment(GlobalOptions& options) {
  if (!options.ports.empty()) return;
  const char* port = std::getenv(kPortVariable);
  if (port != nullptr && *port != '\0') options.ports.emplace_back(port);
}

namespace {

PortSpec ParsePort(const std::string& spec) {
  const auto equals = spec.find('=');
  const std::string number = equals == std::string::npos ? "" : spec.substr(0, equals);
  const bool numbered = !number.empty() && number.size() <= 3 &&
                        std::all_of(number.begin(), number.end(),
                                    [](unsigned char ch) { return std::isdigit(ch) != 0; });
  PortSpec port;
  port.path = numbered ? spec.substr(equals + 1) : spec;
  port.channel = numbered ? std::stoi(number) : 1;
  if (port.channel < 1 || port.channel > 32) {
    throw UsageError(
        fmt::format("--port {}: channel {} is outside 1..32", Shown(spec), port.channel));
  }
  if (port.path.empty()) {
    throw UsageError(fmt::format("--port {}: the path is missing", Shown(spec)));
  }
  return port;
}

// The user's state directory (XDG): a log is the user's, never the
// executable's folder, which for an installed binary is /usr/bin. The
// folder is made on first use.
std::string InStateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::filesystem::path base;
  // The XDG rule: a relative value is ignored.
  if (state != nullptr && *state == '/') {
    base = state;
  } else if (home != nullptr && *home == '/') {
    base = std::filesystem::path(home) / ".local" / "state";
  } else {
    return {};
  }
  const auto folder = base / "quorlan";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return {};
  return (folder / "quorlan.log").string();
}

}  // namespace

std::vector<PortSpec> ParsePorts(const std::vector<std::string>& specs) {
  std::vector<PortSpec> ports;
  std::set<int> seen;
  for (const auto& spec : specs) {
    ports.push_back(ParsePort(spec));
    if (!seen.insert(ports.back().channel).second) {
      throw UsageError(fmt::format("--port {}: channel {} has a port already", Shown(spec),
                                   ports.back().channel));
    }
  }
  return ports;
}

std::string UsableLogPath(const GlobalOptions& options) {
  const auto path = options.logPath.empty() ? InStateDirectory() : options.logPath;
  if (path.empty()) return {};
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file != nullptr) {
    std::fclose(file);
    return path;
  }
  // The default place may well be read-only (an installed binary): no word.
  if (!options.logPath.empty()) {
    fmt::print(stderr, "quorlan: warning: cannot write the log {}: {}; going on without it\n",
               Shown(path), std::strerror(errno));
  }
  return {};
}

}  // namespace quorlan::cli
