#pragma once
// Options given before the command: where the lines are, tracing, the log.

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
  std::string logPath;  // empty: next to the executable, as the driver names it
};

void AddGlobalOptions(CLI::App& app, GlobalOptions& options);
// A path without "CHANNEL=" is channel 1. Throws UsageError for a channel
// outside 1..32 or one given twice.
std::vector<PortSpec> ParsePorts(const std::vector<std::string>& specs);

}  // namespace quorlan::cli
