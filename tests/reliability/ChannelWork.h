#pragma once
// The work of one channel against the in-process simulator: prices, presets,
// authorizations, polls until each fill is finished, readouts and totals,
// with a few scripted faults. Deterministic, so the same work gives the same
// transcript whether channels run one after another or all at once.

#include <memory>
#include <string>
#include <vector>

#include "driver/TVM30.h"
#include "sim/Line.h"

namespace quorlan::reliability {

inline constexpr int kWorkDispensers = 4;

// A line that moves only with the polls (no clock), with automatic nozzles.
std::shared_ptr<sim::Line> MakeWorkLine();

// Runs the channel's work and returns what the host saw, one entry a call.
std::vector<std::string> RunChannelWork(TVM30& driver, sim::Line& line, int channel);

// The host's view of one call: its results, or the exception it raised.
template <class Call>
std::string Transcribe(const std::string& what, Call&& call) {
  try {
    return what + " = " + call();
  } catch (const EDriverError& error) {
    return what + " ! " + error.ClassName() + ": " + error.Message();
  }
}

}  // namespace quorlan::reliability
