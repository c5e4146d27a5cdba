#pragma once
// quorlan sim: the simulator served on a pseudo-terminal, for the serial
// port dispatcher or any other program that opens a serial line.

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "GlobalOptions.h"

namespace quorlan::cli {

struct SimArgs {
  int dispensers = 1;
  bool autoNozzle = false;
  bool unpaced = false;
  std::vector<std::string> faults;  // "D:REQUEST:KIND[:VALUE][:once]"
  // The tank gauge instead of the dispensers (GaugeSim.h).
  bool gauge = false;
  int tanks = 4;
  int tcpPort = -1;  // serve on TCP at this port (0: a free one) instead of a pseudo-terminal
  std::string units = "metric";
  std::string securityCodeFile;
  std::vector<std::string> gaugeFaults;  // "FUNCTION:KIND[:MS][:once]"
};

CLI::App* AddSimCommand(CLI::App& app, SimArgs& args);
// Hands each line of standard input to `react` until a stop is requested;
// the server keeps serving after the input ends.
void ServeInputLines(const std::function<void(const std::string&)>& react);
// Prints the line's path first, serves until SIGINT or SIGTERM.
int RunSimServer(const GlobalOptions& options, const SimArgs& args);

}  // namespace quorlan::cli
