#pragma once
// Faults for quorlan sim, typed on its command line (--fault) or its
// standard input (fault ...): "D:REQUEST:KIND[:VALUE][:once]", for example
// "4:status:noreply", "1:totals:short:20", "2:status:late:800",
// "3:status:status:2F".

#include <string>
#include <string_view>

#include "sim/Line.h"

namespace quorlan::cli {

struct FaultSpec {
  int dispenser = 1;
  sim::Request request = sim::Request::Status;
  sim::Fault fault;
};

// UsageError with the reason when the text is not a fault.
FaultSpec ParseFaultSpec(std::string_view text, int dispensers);
// "dispenser 4: status requests get noreply, every time"
std::string Describe(const FaultSpec& spec);
// What --help and the input's help say of the form.
std::string FaultHelp();

}  // namespace quorlan::cli
