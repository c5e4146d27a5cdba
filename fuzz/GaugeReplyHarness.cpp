// SPDX-License-Identifier: Apache-2.0
// The tank gauge's replies from a line that brings anything: bytes in
// chunks of any size through the frame finder, each frame read as the reply
// to a command of any function, format and tank. Whatever is taken as a
// report must be one a gauge could give: every figure finite, no negative
// volume or height, the tanks asked for in order, each at most once.

#include <cmath>
#include <cstdint>
#include <string>

#include "Check.h"
#include "FuzzInput.h"
#include "gauge/FrameFinder.h"
#include "gauge/Replies.h"

namespace quorlan::fuzz {
namespace {

void CheckTanks(int tank, int asked, int& previous) {
  FUZZ_CHECK(tank >= 1 && tank <= gauge::kLastTank, "tank %d", tank);
  FUZZ_CHECK(asked == gauge::kAllTanks || tank == asked, "tank %d for %d", tank, asked);
  FUZZ_CHECK(tank > previous, "tank %d after %d", tank, previous);
  previous = tank;
}

void CheckFigure(double value, bool mayBeNegative) {
  FUZZ_CHECK(std::isfinite(value), "a figure that is not finite");
  FUZZ_CHECK(mayBeNegative || value >= 0, "a negative figure %g", value);
}

void CheckReply(const std::string& frame, const gauge::Command& command) {
  switch (command.function) {
    case gauge::Function::Inventory: {
      const auto parsed = gauge::ParseInventory(frame, command);
      if (gauge::ProblemOf(parsed)) return;
      int previous = 0;
      const auto& tanks = std::get<gauge::Inventory>(parsed).tanks;
      FUZZ_CHECK(!tanks.empty(), "an inventory without a tank");
      for (const auto& tank : tanks) {
        CheckTanks(tank.tank, command.tank, previous);
        for (double figure : {tank.volume, tank.tcVolume, tank.ullage, tank.height, tank.water,
                              tank.waterVolume.value_or(0)}) {
          CheckFigure(figure, false);
        }
        CheckFigure(tank.temperature, true);
      }
      return;
    }
    case gauge::Function::Deliveries: {
      const auto parsed = gauge::ParseDeliveries(frame, command);
      if (gauge::ProblemOf(parsed)) return;
      int previous = 0;
      for (const auto& delivery : std::get<gauge::DeliveryReport>(parsed).deliveries) {
        FUZZ_CHECK(delivery.tank >= previous, "deliveries out of tank order");
        FUZZ_CHECK(command.tank == 0 || delivery.tank == command.tank, "another tank's delivery");
        previous = delivery.tank;
        for (const auto* end : {&delivery.start, &delivery.end}) {
          for (double figure : {end->volume, end->tcVolume, end->water, end->height.value_or(0)}) {
            CheckFigure(figure, false);
          }
          CheckFigure(end->temperature, true);
        }
      }
      return;
    }
    case gauge::Function::Alarms: {
      const auto parsed = gauge::ParseAlarms(frame, command);
      if (gauge::ProblemOf(parsed)) return;
      int previous = 0;
      for (const auto& tank : std::get<gauge::AlarmReport>(parsed).tanks) {
        CheckTanks(tank.tank, command.tank, previous);
        for (int code : tank.codes) FUZZ_CHECK(code >= 0 && code <= 99, "alarm code %d", code);
      }
      return;
    }
  }
}

}  // namespace
}  // namespace quorlan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorlan;
  fuzz::FuzzInput input(data, size);
  const auto function = static_cast<gauge::Function>(input.Byte() % 3);
  const bool display = function == gauge::Function::Inventory && input.Bool();
  const int tank = input.Bool() ? 0 : input.Byte() % 100;
  const auto command = gauge::BuildCommand(
      function, display ? gauge::Format::Display : gauge::Format::Computer, tank, "");
  gauge::FrameFinder finder;
  while (!input.Empty()) {
    const auto chunk = input.Bytes(std::size_t(input.Byte()) + 1);
    finder.Feed(std::string(chunk.begin(), chunk.end()));
    while (const auto frame = finder.Next()) {
      FUZZ_CHECK(frame->front() == gauge::kSoh && frame->back() == gauge::kEtx,
                 "a frame of %zu bytes that is not SOH..ETX", frame->size());
      fuzz::CheckReply(*frame, command);
    }
  }
  return 0;
}
