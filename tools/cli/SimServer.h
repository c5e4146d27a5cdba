#pragma once
// quorlan sim: the simulator served on a pseudo-terminal, for the serial
// port dispatcher or any other program that opens a serial line.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "GlobalOptions.h"

namespace quorlan::cli {

struct SimArgs {
  int dispensers = 1;
  bool autoNozzle = false;
  bool unpaced = false;
  std::vector<std::string> faults;  // "D:REQUEST:KIND[:VALUE][:once]"
};

CLI::App* AddSimCommand(CLI::App& app, SimArgs& args);
// Prints the line's path first, serves until SIGINT or SIGTERM.
int RunSimServer(const GlobalOptions& options, const SimArgs& args);

}  // namespace quorlan::cli
