// SPDX-License-Identifier: Apache-2.0
#include "station/app/Lines.h"

#include <fmt/format.h>

#include <algorithm>
#include <string>

#include "quorlan/SerialTransport.h"
#include "sim/SimDispatcher.h"
#include "station/base/Log.h"

namespace quorlan::station {

CommandResult Await(std::future<CommandResult> future) {
  if (future.wait_for(kCommandWait) != std::future_status::ready) {
    return {Outcome::Unavailable, "the line did not take the command in time", {}};
  }
  return future.get();
}

Lines::Lines(const StationConfig& config, Store& store, EventHub& hub) {
  const bool allSimulated =
      std::all_of(config.lines.begin(), config.lines.end(),
                  [](const LineConfig& line) { return line.port == kSimulatedPort; });
  Transport* transport = nullptr;
  if (allSimulated) {
    simulated_ = std::make_unique<sim::SimDispatcher>();
    transport = simulated_.get();
  } else {
    serial_ = std::make_unique<serial::SerialDispatcher>();
    transport = serial_.get();
  }
  DriverOptions options;
  options.logFile = config.driverLog;
  options.logLevel = config.driverLogLevel;
  driver_ = std::make_unique<Driver>(*transport, options);

  for (const LineConfig& line : config.lines) {
    std::function<std::string()> problem = [] { return std::string(); };
    if (simulated_) {
      sim::LineOptions simOptions;
      simOptions.dispensers = *std::max_element(line.dispensers.begin(), line.dispensers.end());
      simOptions.autoNozzle = true;
      simulated_->Attach(line.channel, std::make_shared<sim::Line>(simOptions));
    } else {
      serial_->MapChannel(line.channel, line.port);
      serial_->SetEcho(line.channel, line.echo);
      if (!line.capture.empty()) {
        auto& capture = captures_[line.channel];
        capture = std::make_unique<LineCapture>(line.channel, line.capture, line.captureRotation,
                                                [](const std::string& text) { LogLine(text); });
        serial_->SetRecorder(line.channel, [&sink = *capture](bool sent, auto bytes, auto at) {
          sink.Record(sent, bytes, at);
        });
      }
      problem = [this, channel = line.channel] { return serial_->LineProblem(channel); };
    }
    driver_->OpenLine(static_cast<quorlan::Channel>(line.channel));
    if (const std::string why = problem(); !why.empty()) {
      const std::string where =
          line.portLine > 0 ? fmt::format("{}:{}: ", config.file, line.portLine) : "";
      throw ConfigError(kExitPort, where + "cannot open the port: " + why);
    }
    workers_[line.channel] =
        std::make_unique<LineWorker>(*driver_, line, store, hub, std::move(problem));
  }
}

Lines::~Lines() {
  Stop();
}

void Lines::Start() {
  for (auto& [channel, worker] : workers_) worker->Start();
}

void Lines::Stop() {
  for (auto& [channel, worker] : workers_) worker->Stop();
}

LineWorker* Lines::Line(int channel) {
  const auto at = workers_.find(channel);
  return at == workers_.end() ? nullptr : at->second.get();
}

std::vector<LineWorker*> Lines::All() {
  std::vector<LineWorker*> lines;
  for (auto& [channel, worker] : workers_) lines.push_back(worker.get());
  return lines;
}

bool Lines::Has(int channel, int dispenser) {
  const LineWorker* line = Line(channel);
  return line && line->Has(dispenser);
}

std::vector<DispenserView> Lines::Views() {
  std::vector<DispenserView> all;
  for (LineWorker* line : All()) {
    for (const auto& view : line->Views()) all.push_back(view);
  }
  return all;
}

std::uint64_t Lines::Heartbeat() const {
  std::uint64_t sum = 0;
  for (const auto& [channel, worker] : workers_) sum += worker->Heartbeat();
  return sum;
}

}  // namespace quorlan::station
