#include "station/Station.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "quorlan/SerialTransport.h"
#include "sim/SimDispatcher.h"
#include "station/EventData.h"

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
  // No worker runs yet: the book is only stored, and each worker downloads
  // it as it starts.
  ChangePrices(missing);
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

namespace {

CommandResult Await(std::future<CommandResult> future) {
  if (future.wait_for(kCommandWait) != std::future_status::ready) {
    return {Outcome::Unavailable, "the line did not take the command in time", {}};
  }
  return future.get();
}

}  // namespace

bool Station::Has(int channel, int dispenser) {
  const LineWorker* line = Line(channel);
  return line && line->Has(dispenser);
}

std::vector<DispenserView> Station::Views() {
  std::vector<DispenserView> all;
  for (LineWorker* line : Lines()) {
    for (const auto& view : line->Views()) all.push_back(view);
  }
  return all;
}

CommandResult Station::Authorize(int channel, int dispenser, int grade, FillLimit limit,
                                 const std::string& by) {
  return Await(Line(channel)->Authorize(dispenser, grade, limit, by));
}

CommandResult Station::StopDispenser(int channel, int dispenser) {
  return Await(Line(channel)->StopDispenser(dispenser));
}

std::vector<StopResult> Station::StopAll() {
  std::vector<std::pair<LineWorker*, std::future<CommandResult>>> pending;
  for (LineWorker* line : Lines()) pending.emplace_back(line, line->StopAll());
  std::vector<StopResult> results;
  for (auto& [line, future] : pending) {
    if (future.wait_for(kCommandWait) != std::future_status::ready) {
      results.push_back({line->Channel(), std::nullopt, false, "no answer in time"});
      continue;
    }
    const CommandResult result = future.get();
    if (result.outcome != Outcome::Done) {
      results.push_back({line->Channel(), std::nullopt, false, result.detail});
      continue;
    }
    for (const auto& stop : std::get<std::vector<StopResult>>(result.body)) results.push_back(stop);
  }
  return results;
}

CommandResult Station::Totals(int channel, int dispenser, int nozzle) {
  return Await(Line(channel)->Totals(dispenser, nozzle));
}

std::vector<PriceResult> Station::ChangePrices(const std::vector<PriceEntry>& entries) {
  const auto book = store_->Prices();
  std::vector<PriceEntry> changed;
  for (const auto& entry : entries) {
    if (std::find(book.begin(), book.end(), entry) == book.end()) changed.push_back(entry);
  }
  std::vector<PriceResult> results;
  if (changed.empty()) return results;
  hub_->PublishCommitted(kPricesEvent, PricesEventData(changed), [&](const StoredEvent& event) {
    store_->SavePrices(changed, event);
    return true;
  });
  std::map<int, std::set<int>> dispensers;
  for (const auto& entry : changed) dispensers[entry.channel].insert(entry.dispenser);
  std::vector<std::future<CommandResult>> pending;
  for (const auto& [channel, set] : dispensers) {
    if (LineWorker* line = Line(channel))
      pending.push_back(line->ApplyPrices({set.begin(), set.end()}));
  }
  for (auto& future : pending) {
    if (future.wait_for(kCommandWait) != std::future_status::ready) continue;
    const CommandResult result = future.get();
    if (const auto* list = std::get_if<std::vector<PriceResult>>(&result.body)) {
      results.insert(results.end(), list->begin(), list->end());
    }
  }
  return results;
}

}  // namespace quorlan::station
