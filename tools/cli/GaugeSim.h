// SPDX-License-Identifier: Apache-2.0
#pragma once
// quorlan sim --gauge: the simulated tank gauge on a pseudo-terminal or over
// TCP, with deliveries, water, leaks and faults typed on standard input.

#include <string>
#include <string_view>

#include "GlobalOptions.h"
#include "SimServer.h"
#include "gauge/Protocol.h"
#include "sim/gauge/Gauge.h"

namespace quorlan::cli {

struct GaugeFaultSpec {
  gauge::Function function = gauge::Function::Inventory;
  sim::GaugeFault fault;
};

// "inventory:checksum", "alarms:late:5000:once"; UsageError with the reason.
GaugeFaultSpec ParseGaugeFaultSpec(std::string_view text);
std::string GaugeFaultHelp();

// Prints the path (or tcp://127.0.0.1:PORT) first, serves until SIGINT or
// SIGTERM.
int RunGaugeSim(const GlobalOptions& options, const SimArgs& args);

}  // namespace quorlan::cli
