#include "NozzleEvents.h"

#include <fmt/format.h>

#include <stdexcept>

#include "ExitCodes.h"
#include "quorlan/Driver.h"

namespace quorlan::cli {

void AddNozzleEventCommands(CLI::App& app, NozzleEvent& event, bool& chosen) {
  auto* lift = app.add_subcommand("lift", "Lift a nozzle of a simulated dispenser");
  lift->add_option("dispenser", event.dispenser, "Dispenser")->required();
  lift->add_option("nozzle", event.nozzle,
                   fmt::format("Nozzle, 1..{} (default 1)", int{kLastNozzle}));
  lift->callback([&] {
    event.lift = true;
    chosen = true;
  });
  auto* hang = app.add_subcommand("hang", "Hang up the lifted nozzle of a simulated dispenser");
  hang->add_option("dispenser", event.dispenser, "Dispenser")->required();
  hang->callback([&] {
    event.lift = false;
    chosen = true;
  });
}

std::string ApplyNozzleEvent(sim::Line& line, const NozzleEvent& event) {
  try {
    if (!event.lift) {
      line.Hang(event.dispenser);
      return fmt::format("dispenser {}: nozzle hung up", event.dispenser);
    }
    if (!line.Lift(event.dispenser, event.nozzle)) {
      return fmt::format("dispenser {}: a nozzle is up already", event.dispenser);
    }
    return fmt::format("dispenser {}: nozzle {} lifted", event.dispenser, event.nozzle);
  } catch (const std::out_of_range&) {
    throw UsageError(fmt::format("{} {}: the line has dispensers 1..{} with nozzles 1..{}",
                                 event.lift ? "lift" : "hang", event.dispenser, line.Dispensers(),
                                 int{kLastNozzle}));
  }
}

}  // namespace quorlan::cli
