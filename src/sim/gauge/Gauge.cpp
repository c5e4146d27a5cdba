#include "Gauge.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

#include "GaugeReplies.h"
#include "gauge/Command.h"
#include "gauge/Fields.h"

namespace quorlan::sim {
namespace {

using gauge::Function;

// Thermal expansion per °C of a light fuel, for the simulated TC volume.
constexpr double kExpansion = 0.00095;
constexpr double kReferenceTemperature = 15;
// The gauge's own alarms: below 10 % and above 95 % of capacity, water over
// 50 mm.
constexpr double kLowShare = 0.10;
constexpr double kOverfillShare = 0.95;
constexpr double kHighWater = 50;
constexpr std::size_t kDeliveriesKept = 10;
constexpr double kSecondsPerDay = 86400;
constexpr double kWarmestSecond = 15 * 3600;

constexpr std::array<std::pair<GaugeFaultKind, std::string_view>, 6> kFaultNames{{
    {GaugeFaultKind::NoReply, "noreply"},
    {GaugeFaultKind::WrongChecksum, "checksum"},
    {GaugeFaultKind::CutReply, "cut"},
    {GaugeFaultKind::OtherTank, "othertank"},
    {GaugeFaultKind::NotANumber, "nan"},
    {GaugeFaultKind::LateReply, "late"},
}};

struct AskedFor {
  Function function;
  int tank;
  bool display;
  std::string body;  // letter, function and tank: the reply's echo
};

// The letter, function and tank after the security code.
std::optional<AskedFor> ReadCommand(const std::string& body) {
  constexpr std::size_t kBody = 1 + gauge::kCodeDigits + gauge::kTankDigits;
  if (body.size() != kBody) return std::nullopt;
  const auto function = gauge::FunctionOfCode(std::string_view(body).substr(1, 3));
  const auto tank = gauge::ParseDecimal(std::string_view(body).substr(4, 2));
  const bool display = body[0] == gauge::kDisplayLetter;
  if (!function || !tank) return std::nullopt;
  if (!(body[0] == gauge::kComputerLetter || (display && *function == Function::Inventory))) {
    return std::nullopt;
  }
  return AskedFor{*function, *tank, display, body};
}

// Litres at the fuel's temperature per litre at 15 °C.
double Expansion(double temperature) {
  return 1 + kExpansion * (temperature - kReferenceTemperature);
}

void Check(const SimTankSettings& tank) {
  const bool valid = tank.number >= 1 && tank.number <= gauge::kLastTank && tank.capacity > 0 &&
                     tank.diameter > 0 && tank.volume >= 0 && tank.volume <= tank.capacity &&
                     tank.water >= 0 && tank.water < tank.diameter && tank.leak >= 0 &&
                     std::isfinite(tank.temperature) && tank.temperatureSwing >= 0;
  if (!valid) {
    throw std::invalid_argument("simulated tank " + std::to_string(tank.number) +
                                ": a figure out of range");
  }
}

}  // namespace

std::vector<SimTankSettings> DefaultTanks() {
  std::vector<SimTankSettings> tanks;
  for (int grade = 1; grade <= 4; ++grade) {
    tanks.push_back({.number = grade,
                     .product = char('0' + grade),
                     .capacity = 20000,
                     .volume = 12000,
                     .temperature = 14,
                     .temperatureSwing = 1.5});
  }
  return tanks;
}

std::string_view GaugeFaultName(GaugeFaultKind kind) {
  for (const auto& [known, name] : kFaultNames) {
    if (known == kind) return name;
  }
  return "?";
}

std::optional<GaugeFaultKind> ParseGaugeFault(std::string_view name) {
  for (const auto& [kind, known] : kFaultNames) {
    if (known == name) return kind;
  }
  return std::nullopt;
}

WallClock SystemWallClock() {
  return [] {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
}

Gauge::Gauge(GaugeOptions options) : options_(std::move(options)) {
  if (options_.tanks.empty()) throw std::invalid_argument("a gauge needs a tank");
  if (!(options_.deliveryRate > 0)) throw std::invalid_argument("deliveries need a rate");
  if (!options_.clock) options_.clock = SystemWallClock();
  if (!options_.securityCode.empty() && !gauge::ValidSecurityCode(options_.securityCode)) {
    throw std::invalid_argument("a security code is 1 to 16 visible ASCII characters");
  }
  lastClock_ = options_.clock();
  for (const auto& settings : options_.tanks) {
    Check(settings);
    Tank tank{settings, HorizontalCylinder(settings.capacity, settings.diameter)};
    tank.standard = settings.volume / Expansion(Temperature(tank));
    if (!tanks_.emplace(settings.number, std::move(tank)).second) {
      throw std::invalid_argument("tank " + std::to_string(settings.number) + " given twice");
    }
  }
}

Gauge::Tank& Gauge::At(int tank) {
  const auto found = tanks_.find(tank);
  if (found == tanks_.end()) {
    throw std::out_of_range("no tank " + std::to_string(tank) + " on the gauge");
  }
  return found->second;
}

double Gauge::Temperature(const Tank& tank) const {
  const double secondOfDay = std::fmod(lastClock_, kSecondsPerDay);
  const double phase = 2 * std::numbers::pi * (secondOfDay - kWarmestSecond) / kSecondsPerDay;
  return tank.settings.temperature + tank.settings.temperatureSwing * std::cos(phase);
}

gauge::GaugeTime Gauge::Now() const {
  const auto seconds = static_cast<std::time_t>(std::floor(lastClock_));
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min};
}

void Gauge::CatchUp() {
  const double now = options_.clock();
  const double elapsed = now - lastClock_;
  if (elapsed <= 0) return;
  lastClock_ = now;
  for (auto& [number, tank] : tanks_) {
    const double expansion = Expansion(Temperature(tank));
    const double fuel = tank.standard * expansion;
    const double leak = std::min(fuel, tank.settings.leak * elapsed / 3600);
    tank.leaked += leak;
    tank.standard -= leak / expansion;
    if (tank.toDeliver <= 0) continue;
    const double room = std::max(0.0, tank.shape.Capacity() - tank.standard * expansion -
                                          tank.shape.VolumeAt(tank.settings.water));
    const double in = std::min({tank.toDeliver, options_.deliveryRate * elapsed / 60, room});
    tank.standard += in / expansion;
    tank.delivered += in;
    tank.toDeliver -= in;
    if (tank.toDeliver > 1e-9 && in < room) continue;
    tank.toDeliver = 0;
    tank.deliveries.push_back({.tank = number,
                               .product = tank.settings.product,
                               .started = tank.deliveryStarted,
                               .ended = Now(),
                               .start = *tank.deliveryStart,
                               .end = EndFigures(tank)});
    if (tank.deliveries.size() > kDeliveriesKept) tank.deliveries.erase(tank.deliveries.begin());
    tank.deliveryStart.reset();
  }
}

gauge::TankInventory Gauge::Read(const Tank& tank) const {
  const double temperature = Temperature(tank);
  const double water = tank.shape.VolumeAt(tank.settings.water);
  const double fuel = tank.standard * Expansion(temperature);
  gauge::TankInventory reading{.tank = tank.settings.number, .product = tank.settings.product};
  reading.delivering = tank.toDeliver > 0;
  reading.volume = fuel;
  reading.tcVolume = tank.standard;
  reading.ullage = std::max(0.0, tank.shape.Capacity() - fuel - water);
  reading.height = tank.shape.HeightOf(fuel + water);
  reading.water = tank.settings.water;
  reading.temperature = temperature;
  reading.waterVolume = water;
  return reading;
}

gauge::DeliveryEnd Gauge::EndFigures(const Tank& tank) const {
  const auto reading = Read(tank);
  return {reading.volume, reading.tcVolume, reading.water, reading.temperature, reading.height};
}

std::vector<int> Gauge::ActiveAlarms(const Tank& tank) const {
  const auto reading = Read(tank);
  std::vector<int> codes;
  if (reading.water > kHighWater) codes.push_back(gauge::alarms::kHighWater);
  if (reading.volume > kOverfillShare * tank.shape.Capacity()) {
    codes.push_back(gauge::alarms::kOverfill);
  }
  if (reading.volume < kLowShare * tank.shape.Capacity()) {
    codes.push_back(gauge::alarms::kLowProduct);
  }
  return codes;
}

std::optional<GaugeFault> Gauge::TakeFault(Function function) {
  const auto found = faults_.find(function);
  if (found == faults_.end()) return std::nullopt;
  const auto fault = found->second;
  if (!fault.persistent) faults_.erase(found);
  return fault;
}

Response Gauge::Answer(std::span<const std::uint8_t> command) {
  std::lock_guard lock(mutex_);
  CatchUp();
  ++commands_;
  const std::string text(command.begin(), command.end());
  const std::string prefix = gauge::kSoh + options_.securityCode;
  // A console that asks for a code ignores a command without it.
  if (!text.starts_with(prefix)) return {};
  const auto asked = ReadCommand(text.substr(prefix.size()));
  if (!asked) {
    const auto reply = NotUnderstoodReply();
    return {Response::Delivery::Now, Bytes(reply.begin(), reply.end()), {}};
  }
  const auto [function, tank, display, body] = *asked;
  const auto fault = TakeFault(function);
  if (fault && fault->kind == GaugeFaultKind::NoReply) return {};

  std::vector<int> chosen;
  for (const auto& [number, unused] : tanks_) {
    if (tank == gauge::kAllTanks || number == tank) chosen.push_back(number);
  }
  // Another tank's number on the first record.
  const auto numberOf = [&](std::size_t i) {
    const bool other = fault && fault->kind == GaugeFaultKind::OtherTank && i == 0;
    return other ? chosen[0] % gauge::kLastTank + 1 : chosen[i];
  };
  const bool poisoned = fault && fault->kind == GaugeFaultKind::NotANumber;
  const auto nan = std::numeric_limits<double>::quiet_NaN();
  std::string data;
  std::vector<gauge::TankInventory> readings;
  if (function == Function::Inventory) {
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      readings.push_back(Read(At(chosen[i])));
      readings.back().tank = numberOf(i);
      if (poisoned && i == 0) readings.back().volume = nan;
    }
    data = InventoryRecords(readings, options_.units);
  } else if (function == Function::Deliveries) {
    std::vector<int> numbers;
    std::vector<char> products;
    std::vector<std::vector<gauge::Delivery>> deliveries;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      numbers.push_back(numberOf(i));
      products.push_back(At(chosen[i]).settings.product);
      deliveries.push_back(At(chosen[i]).deliveries);
      if (poisoned && i == 0 && !deliveries.back().empty()) {
        deliveries.back().front().start.volume = nan;
      }
    }
    data = DeliveryRecords(numbers, products, deliveries, options_.units);
  } else {
    std::vector<gauge::TankAlarms> alarms;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      alarms.push_back({numberOf(i), ActiveAlarms(At(chosen[i]))});
    }
    data = AlarmRecords(alarms);
  }
  const std::string& echo = body;
  std::string reply =
      display ? DisplayInventory(echo, Now(), readings, options_.units)
              : ComputerReply(echo, Now(), data,
                              fault && fault->kind == GaugeFaultKind::WrongChecksum ? 1 : 0);
  if (fault && fault->kind == GaugeFaultKind::CutReply) reply.resize(reply.size() / 2);
  Response response{Response::Delivery::Now, Bytes(reply.begin(), reply.end()), {}};
  if (fault && fault->kind == GaugeFaultKind::LateReply) {
    response.delivery = Response::Delivery::Late;
    response.delay = fault->delay;
  }
  return response;
}

void Gauge::Drain(int tank, double litres) {
  std::lock_guard lock(mutex_);
  CatchUp();
  auto& target = At(tank);
  if (!(litres > 0)) return;
  const double expansion = Expansion(Temperature(target));
  const double taken = std::min(litres, target.standard * expansion);
  target.standard -= taken / expansion;
  target.drained += taken;
}

void Gauge::StartDelivery(int tank, double litres) {
  std::lock_guard lock(mutex_);
  CatchUp();
  auto& target = At(tank);
  if (!(litres > 0)) throw std::invalid_argument("a delivery brings a positive volume");
  if (target.toDeliver <= 0) {
    target.deliveryStart = EndFigures(target);
    target.deliveryStarted = Now();
  }
  target.toDeliver += litres;
}

void Gauge::SetWater(int tank, double millimetres) {
  std::lock_guard lock(mutex_);
  CatchUp();
  auto& target = At(tank);
  if (!(millimetres >= 0) || millimetres >= target.settings.diameter) {
    throw std::invalid_argument("water is 0 up to the tank's diameter");
  }
  target.settings.water = millimetres;
}

void Gauge::SetLeak(int tank, double litresPerHour) {
  std::lock_guard lock(mutex_);
  CatchUp();
  if (!(litresPerHour >= 0)) throw std::invalid_argument("a leak is 0 or more litres an hour");
  At(tank).settings.leak = litresPerHour;
}

void Gauge::InjectFault(Function function, GaugeFault fault) {
  std::lock_guard lock(mutex_);
  faults_[function] = fault;
}

void Gauge::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

TankState Gauge::State(int tank) {
  std::lock_guard lock(mutex_);
  CatchUp();
  const auto& target = At(tank);
  return {Read(target), target.shape.Capacity(), target.leaked, target.drained, target.delivered};
}

std::vector<int> Gauge::Tanks() const {
  std::lock_guard lock(mutex_);
  std::vector<int> numbers;
  for (const auto& [number, unused] : tanks_) numbers.push_back(number);
  return numbers;
}

std::uint64_t Gauge::Commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

}  // namespace quorlan::sim
