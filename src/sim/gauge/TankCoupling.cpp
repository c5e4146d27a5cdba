#include "TankCoupling.h"

#include <stdexcept>

namespace quorlan::sim {

TankCoupling::TankCoupling(std::shared_ptr<Gauge> gauge) : state_(std::make_shared<State>()) {
  state_->gauge = std::move(gauge);
}

void TankCoupling::Connect(int channel, int dispenser, int nozzle, int tank) {
  state_->gauge->State(tank);  // std::out_of_range for a tank the gauge does not have
  std::lock_guard lock(state_->mutex);
  state_->nozzles[{channel, dispenser, nozzle}] = tank;
}

void TankCoupling::ConnectGrade(int grade, int tank) {
  state_->gauge->State(tank);
  std::lock_guard lock(state_->mutex);
  state_->grades[grade] = tank;
}

void TankCoupling::SetMeterError(int channel, int dispenser, double percent) {
  if (!(percent > -100 && percent < 100)) {
    throw std::invalid_argument("a meter error is between -100 and 100 %");
  }
  std::lock_guard lock(state_->mutex);
  state_->meterErrors[{channel, dispenser}] = percent;
}

void TankCoupling::Attach(int channel, Line& line) {
  line.SetPourObserver(
      [state = state_, channel](int dispenser, int nozzle, int grade, double litres) {
        state->Poured(channel, dispenser, nozzle, grade, litres);
      });
}

void TankCoupling::State::Poured(int channel, int dispenser, int nozzle, int grade, double litres) {
  int tank = 0;
  double error = 0;
  {
    std::lock_guard lock(mutex);
    if (const auto found = nozzles.find({channel, dispenser, nozzle}); found != nozzles.end()) {
      tank = found->second;
    } else if (const auto byGrade = grades.find(grade); byGrade != grades.end()) {
      tank = byGrade->second;
    }
    if (const auto found = meterErrors.find({channel, dispenser}); found != meterErrors.end()) {
      error = found->second;
    }
  }
  if (tank != 0) gauge->Drain(tank, litres * (1 + error / 100));
}

}  // namespace quorlan::sim
