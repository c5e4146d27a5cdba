#pragma once
// The driver on an instant in-memory dispatcher: the simulated line answers
// while a call sequence is recorded, the recording answers while it is timed,
// so the figures are the driver's own work (plus its logging, when on).

#include <memory>
#include <string>

#include "driver/TVM30.h"
#include "log/Logger.h"
#include "sim/Line.h"
#include "sim/SimDispatcher.h"
#include "support/Logging.h"
#include "support/ReplayDispatcher.h"
#include "support/ScratchDirectory.h"

namespace quorlan::bench {

class ReplayedDriver {
 public:
  ReplayedDriver(sim::LineOptions line, Logging logging);

  TVM30& Driver() { return driver_; }
  // Runs `calls` on the simulated line and records the conversation; from
  // then on every exchange is answered from the recording.
  template <class Calls>
  void Record(Calls calls) {
    port_.StartRecording();
    calls();
    port_.Replay();
  }
  bool Diverged() const { return port_.Diverged(); }
  std::size_t RecordedExchanges() const { return port_.Recorded(); }
  // Lines in the log file so far (0 with logging off).
  std::size_t LogLines() const;

 private:
  ScratchDirectory scratch_;
  std::shared_ptr<sim::Line> line_;
  sim::SimDispatcher simulator_;
  ReplayDispatcher port_{simulator_};
  Logger logger_;
  TVM30 driver_;
};

}  // namespace quorlan::bench
