#pragma once
// Lets simulated sales drain simulated tanks when both run in one process:
// every litre a nozzle pours (Line::SetPourObserver) leaves the tank that
// nozzle draws from, corrected by the pump's meter error. Lock order: a
// line's lock, then the coupling's, then the gauge's; the gauge never calls
// back.

#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "Gauge.h"
#include "sim/Line.h"

namespace quorlan::sim {

class TankCoupling {
 public:
  explicit TankCoupling(std::shared_ptr<Gauge> gauge);

  // Nozzle n of dispenser d on channel c draws from `tank`.
  void Connect(int channel, int dispenser, int nozzle, int tank);
  // Every nozzle that sells `grade` and has no tank of its own draws from
  // `tank`.
  void ConnectGrade(int grade, int tank);
  // The pump's meter error in %: +0.5 gives 100.5 l for every 100 l it
  // shows (and charges).
  void SetMeterError(int channel, int dispenser, double percent);
  // The line's pours drain the tanks. The coupling's state outlives it as
  // long as the line does.
  void Attach(int channel, Line& line);

 private:
  struct State {
    std::shared_ptr<Gauge> gauge;
    std::mutex mutex;
    std::map<std::tuple<int, int, int>, int> nozzles;
    std::map<int, int> grades;
    std::map<std::pair<int, int>, double> meterErrors;
    void Poured(int channel, int dispenser, int nozzle, int grade, double litres);
  };
  std::shared_ptr<State> state_;
};

}  // namespace quorlan::sim
