#pragma once
// Options given before the command: where the lines are, tracing, the log,
// the price book.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace quorlan::cli {

struct PortSpec {
  int channel = 1;
  std::string path;
};

struct GlobalOptions {
  std::vector<std::string> ports;  // "[CHANNEL=]PATH"; none: the embedded simulator
  bool trace = false;
  bool echo = false;       // the lines' adapters hear their own requests
  std::string logPath;     // empty: in the user's state directory
  std::string pricesFile;  // empty: the book starts empty
};

// The environment variable that names the port when no --port is given.
inline constexpr const char* kPortVariable = "QUORLAN_PORT";

void AddGlobalOptions(CLI::App& app, GlobalOptions& options);
// The names of the global options, for the hint when one follows the command.
const std::vector<std::string>& GlobalOptionNames();
// Where the command stands among the arguments: the first that is neither a
// global option nor its value (args.size() when there is none).
std::size_t CommandPosition(const std::vector<std::string>& args);
// After parsing: the port from QUORLAN_PORT when no --port was given.
void ApplyEnvironment(GlobalOptions& options);
// A path without "CHANNEL=" is channel 1. Throws UsageError for a channel
// outside 1..32 or one given twice.
std::vector<PortSpec> ParsePorts(const std::vector<std::string>& specs);
// The log file the driver writes, or empty when none can be written. A log
// given with --log that cannot be written is warned about on stderr.
std::string UsableLogPath(const GlobalOptions& options);

}  // namespace quorlan::cli
