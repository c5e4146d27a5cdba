// SPDX-License-Identifier: Apache-2.0
#pragma once
// quorlan tap: listens on a line without sending a byte and prints every
// exchange decoded, live, as text or JSON lines, optionally writing a pcap
// capture for Wireshark.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "GlobalOptions.h"

namespace quorlan::cli {

struct TapArgs {
  // One path: the shared wire. Two: the host's side, then the dispenser's.
  std::vector<std::string> ports;
  bool json = false;
  std::string pcapPath;
  int baud = 9600;
  int gapMs = 50;
  int count = 0;  // stop after this many exchanges; 0: until stopped
};

CLI::App* AddTapCommand(CLI::App& app, TapArgs& args);
// Until SIGINT or SIGTERM, the count, or the line closing.
int RunTap(const GlobalOptions& options, const TapArgs& args);

}  // namespace quorlan::cli
