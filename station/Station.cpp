#include "station/Station.h"

#include <fmt/format.h>

#include <algorithm>

#include "quorlan/SerialTransport.h"
#include "sim/SimDispatcher.h"
#include "station/JsonViews.h"

namespace quorlan::station {

namespace {

// The embedded default's prices, grades 1..4.
constexpr std::array<Cents, 4> kEmbeddedPrices{5290, 5490, 5890, 6190};

bool Simulated(const LineConfig& line) {
  return line.port == kSimulatedPort;
}

}  // namespace

Station::Station(const StationConfig& config) : config_(config) {
  const bool anySimulated = std::any_of(config_.lines.begin(), config_.lines.end(), Simulated);
  const bool allSimulated = std::all_of(config_.lines.begin(), config_.lines.end(), Simulated);
  if (anySimulated && !allSimulated) {
    // One driver serves every line through one transport.
    throw ConfigError(kExitConfig, config_.file + ": simulated and serial lines cannot be mixed");
  }
  try {
    store_ = std::make_unique<Store>(config_.database);
  } catch (const sql::Error& error) {
    throw ConfigError(kExitConfig, config_.database + ": " + error.what());
  }
  hub_ = std::make_unique<EventHub>(*store_);
  if (config_.file.empty()) SeedEmbeddedPrices();

  Transport* transport = nullptr;
  if (allSimulated) {
    simulated_ = std::make_unique<sim::SimDispatcher>();
    transport = simulated_.get();
  } else {
    serial_ = std::make_unique<serial::SerialDispatcher>();
    transport = serial_.get();
  }
  DriverOptions options;
  options.logFile = config_.driverLog;
  driver_ = std::make_unique<Driver>(*transport, options);

  for (const LineConfig& line : config_.lines) {
    std::function<std::string()> problem = [] { return std::string(); };
    if (simulated_) {
      sim::LineOptions simOptions;
      simOptions.dispensers = *std::max_element(line.dispensers.begin(), line.dispensers.end());
      simOptions.autoNozzle = true;
      simulated_->Attach(line.channel, std::make_shared<sim::Line>(simOptions));
    } else {
      serial_->MapChannel(line.channel, line.port);
      problem = [this, channel = line.channel] { return serial_->LineProblem(channel); };
    }
    driver_->OpenLine(static_cast<quorlan::Channel>(line.channel));
    if (const std::string why = problem(); !why.empty()) {
      const std::string where =
          line.portLine > 0 ? fmt::format("{}:{}: ", config_.file, line.portLine) : "";
      throw ConfigError(kExitPort, where + "cannot open the port: " + why);
    }
    workers_[line.channel] =
        std::make_unique<LineWorker>(*driver_, line, *store_, *hub_, std::move(problem));
  }
}

Station::~Station() {
  Stop();
}

void Station::SeedEmbeddedPrices() {
  std::vector<PriceEntry> missing;
  const auto book = store_->Prices();
  for (const LineConfig& line : config_.lines) {
    for (int d : line.dispensers) {
      for (int g = 1; g <= static_cast<int>(kEmbeddedPrices.size()); ++g) {
        const bool known = std::any_of(book.begin(), book.end(), [&](const PriceEntry& entry) {
          return entry.channel == line.channel && entry.dispenser == d && entry.grade == g;
        });
        if (!known) missing.push_back({line.channel, d, g, kEmbeddedPrices[std::size_t(g - 1)]});
      }
    }
  }
  if (missing.empty()) return;
  nlohmann::json data = nlohmann::json::array();
  for (const auto& entry : missing) data.push_back(PriceJson(entry));
  hub_->PublishCommitted("prices", data.dump(), [&](const StoredEvent& event) {
    store_->SavePrices(missing, event);
    return true;
  });
}

void Station::Start() {
  for (auto& [channel, worker] : workers_) worker->Start();
}

void Station::Stop() {
  for (auto& [channel, worker] : workers_) worker->Stop();
  if (hub_) hub_->Close();
}

LineWorker* Station::Line(int channel) {
  const auto at = workers_.find(channel);
  return at == workers_.end() ? nullptr : at->second.get();
}

std::vector<LineWorker*> Station::Lines() {
  std::vector<LineWorker*> lines;
  for (auto& [channel, worker] : workers_) lines.push_back(worker.get());
  return lines;
}

std::uint64_t Station::Heartbeat() const {
  std::uint64_t sum = 0;
  for (const auto& [channel, worker] : workers_) sum += worker->Heartbeat();
  return sum;
}

}  // namespace quorlan::station
