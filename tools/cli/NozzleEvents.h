#pragma once
// Nozzle lifts and hangs for a simulated line, typed as "lift D [NOZZLE]" and
// "hang D" in the shell and on the simulator server's standard input: the
// protocol has no request that moves a nozzle.

#include <CLI/CLI.hpp>
#include <string>

#include "sim/Line.h"

namespace quorlan::cli {

struct NozzleEvent {
  bool lift = true;
  int dispenser = 1;
  int nozzle = 1;
};

// Adds "lift" and "hang"; `chosen` becomes true when one was parsed.
void AddNozzleEventCommands(CLI::App& app, NozzleEvent& event, bool& chosen);
// Applies the event and says what happened; UsageError for a dispenser or
// nozzle the line does not have.
std::string ApplyNozzleEvent(sim::Line& line, const NozzleEvent& event);

}  // namespace quorlan::cli
