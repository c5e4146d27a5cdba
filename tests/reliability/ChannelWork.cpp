#include "ChannelWork.h"

#include <cstdio>

namespace quorlan::reliability {

namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string Label(const char* operation, int c, int d) {
  return std::string(operation) + "(" + std::to_string(c) + "," + std::to_string(d) + ")";
}

}  // namespace

std::shared_ptr<sim::Line> MakeWorkLine() {
  return std::make_shared<sim::Line>(sim::LineOptions{.dispensers = kWorkDispensers,
                                                      .volumePerPoll = 0.5,
                                                      .clock = {},
                                                      .autoNozzle = true,
                                                      .autoFillVolume = 4,
                                                      .startWithoutPrices = false});
}

std::vector<std::string> RunChannelWork(TVM30& driver, sim::Line& line, int c) {
  std::vector<std::string> seen;
  const auto record = [&seen](std::string entry) { seen.push_back(std::move(entry)); };
  driver.OpenChannel(c);
  // Each channel meets a different fault once, so channels differ.
  line.InjectFault(1 + c % kWorkDispensers, sim::Request::Status,
                   {.kind = static_cast<sim::FaultKind>(c % 4)});

  for (int d = 1; d <= kWorkDispensers; ++d) {
    record(Transcribe(Label("SetPrice", c, d), [&] {
      driver.SetPrice(c, d, 1, 0, 0, 10 + c + d / 100.0);
      return std::string("ok");
    }));
  }
  for (int round = 0; round < 3; ++round) {
    for (int d = 1; d <= kWorkDispensers; ++d) {
      record(Transcribe(Label("Authorize", c, d), [&] {
        if (round == 1) {
          driver.Authorize(c, d, 1, 0);
        } else {
          driver.SetVolumePreset(c, d, 0, 0, 1.0 + 0.5 * d + round);
          driver.Start(c, d, 1);
        }
        return std::string("ok");
      }));
      for (int poll = 0; poll < 40; ++poll) {
        std::uint8_t code = 0;
        record(Transcribe(Label("Status", c, d), [&] {
          NozzleStatusRecord status;
          driver.GetNozzleStatus(std::uint8_t(c), std::uint8_t(d), 1, status);
          code = status.bytes[0];
          return std::to_string(code);
        }));
        if (code == 0xC0) break;
      }
      record(Transcribe(Label("Transaction", c, d), [&] {
        double volume = 0, amount = 0;
        driver.GetTransaction(c, d, volume, amount);
        return Number(volume) + " " + Number(amount);
      }));
      record(Transcribe(Label("Totals", c, d), [&] {
        double volume = 0, amount = 0;
        driver.ReadTotals(c, d, 1, volume, amount, 0, 0);
        return Number(volume) + " " + Number(amount);
      }));
    }
    record(Transcribe(Label("Stop", c, 1), [&] { return std::to_string(driver.Stop(c, 1, 0)); }));
  }
  return seen;
}

}  // namespace quorlan::reliability
