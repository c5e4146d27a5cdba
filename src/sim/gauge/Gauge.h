#pragma once
// A simulated automatic tank gauge: horizontal cylindrical tanks whose fuel
// temperature drifts with the day, with water, a leak, deliveries on
// command and sales drained by the simulated pumps (TankCoupling.h), and
// the faults a field gauge shows. It answers the computer-format inventory,
// delivery and alarm reports and the printed inventory, in metric or US
// units. Thread-safe: a server thread, the pumps and a control thread may
// share it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "TankShape.h"
#include "gauge/Protocol.h"
#include "gauge/Readings.h"
#include "gauge/Units.h"
#include "sim/Response.h"

namespace quorlan::sim {

struct SimTankSettings {
  int number = 1;               // 1..99
  char product = '1';           // the console's product code
  double capacity = 20000;      // litres
  double diameter = 2500;       // mm
  double volume = 12000;        // litres of fuel at the start
  double water = 0;             // mm
  double leak = 0;              // litres an hour lost
  double temperature = 15;      // °C, the day's mean
  double temperatureSwing = 0;  // °C, up and down over the day (warmest at 15:00)
};

// The four tanks of 20,000 l, 60 % full, one per grade 1..4.
std::vector<SimTankSettings> DefaultTanks();

enum class GaugeFaultKind : std::uint8_t {
  NoReply,        // nothing comes back
  WrongChecksum,  // the checksum is off by one
  CutReply,       // the reply stops halfway, without its ETX
  OtherTank,      // the first record carries another tank's number
  NotANumber,     // the first figure is NaN
  LateReply,      // the reply comes `delay` late
};
std::string_view GaugeFaultName(GaugeFaultKind kind);
std::optional<GaugeFaultKind> ParseGaugeFault(std::string_view name);

struct GaugeFault {
  GaugeFaultKind kind = GaugeFaultKind::NoReply;
  bool persistent = false;  // else it strikes once
  std::chrono::milliseconds delay{3000};
};

// Unix seconds; the gauge's clock (its replies' time, the time of day).
using WallClock = std::function<double()>;
WallClock SystemWallClock();

struct GaugeOptions {
  std::vector<SimTankSettings> tanks = DefaultTanks();
  gauge::Units units = gauge::Units::Metric;  // what the replies are in
  std::string securityCode;                   // commands without it get no reply
  WallClock clock = SystemWallClock();
  double deliveryRate = 800;  // litres a minute into a tank
};

// A tank as it stands, in metric units.
struct TankState {
  gauge::TankInventory inventory;
  double capacity = 0;
  double leaked = 0;     // litres lost to the leak so far
  double drained = 0;    // litres the pumps took so far
  double delivered = 0;  // litres delivered so far
};

class Gauge {
 public:
  // std::invalid_argument for no tank, a tank number outside 1..99 or twice,
  // or a figure out of range.
  explicit Gauge(GaugeOptions options = {});
  Gauge(const Gauge&) = delete;
  Gauge& operator=(const Gauge&) = delete;

  // One whole command, SOH first.
  Response Answer(std::span<const std::uint8_t> command);

  // Sales: `litres` leave the tank (the pumps' litres at the fuel's
  // temperature). std::out_of_range for an unknown tank.
  void Drain(int tank, double litres);
  // A tanker starts to unload `litres` at the delivery rate.
  void StartDelivery(int tank, double litres);
  void SetWater(int tank, double millimetres);
  void SetLeak(int tank, double litresPerHour);
  // Faults strike the next replies to the function.
  void InjectFault(gauge::Function function, GaugeFault fault);
  void ClearFaults();

  TankState State(int tank);
  std::vector<int> Tanks() const;
  const GaugeOptions& Options() const { return options_; }
  // Whole commands answered so far.
  std::uint64_t Commands() const;

 private:
  struct Tank {
    SimTankSettings settings;
    HorizontalCylinder shape;
    double standard = 0;  // litres at 15 °C
    double leaked = 0;
    double drained = 0;
    double delivered = 0;
    double toDeliver = 0;  // litres of the delivery under way
    std::optional<gauge::DeliveryEnd> deliveryStart{};
    gauge::GaugeTime deliveryStarted{};
    std::vector<gauge::Delivery> deliveries{};  // the last few, oldest first
  };

  Tank& At(int tank);
  void CatchUp();
  double Temperature(const Tank& tank) const;
  gauge::TankInventory Read(const Tank& tank) const;
  gauge::DeliveryEnd EndFigures(const Tank& tank) const;
  gauge::GaugeTime Now() const;
  std::optional<GaugeFault> TakeFault(gauge::Function function);
  std::vector<int> ActiveAlarms(const Tank& tank) const;

  GaugeOptions options_;
  mutable std::mutex mutex_;
  std::map<int, Tank> tanks_;
  std::map<gauge::Function, GaugeFault> faults_;
  double lastClock_ = 0;
  std::uint64_t commands_ = 0;
};

}  // namespace quorlan::sim
