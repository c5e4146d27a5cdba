#pragma once
// A simulated line: up to 32 dispensers answering request frames byte for
// byte, with scripted faults, nozzle events and a fill that flows with a
// clock. Thread-safe: a transport thread and a control thread may share it.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <utility>

#include "Dispenser.h"
#include "Fault.h"
#include "Requests.h"
#include "Response.h"

namespace quorlan::sim {

// Seconds on a monotonic scale.
using Clock = std::function<double()>;
Clock SteadyClock();

struct LineOptions {
  int dispensers = 1;           // 1..32; addresses beyond do not answer
  double flowRate = 0.5;        // litres per second of the clock
  double volumePerPoll = 0;     // litres each status poll adds to a running fill
  Clock clock = SteadyClock();  // empty: the fill moves only by polls and Advance
  bool autoNozzle = false;      // lift after an authorization, hang when the fill ends
  double autoFillVolume = 10;   // litres an automatic fill without limits takes
  bool startWithoutPrices = true;
};

class Line {
 public:
  explicit Line(LineOptions options = {});
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // One whole request frame in line bytes. Garbage, unknown addresses and
  // requests a dispenser refuses get no reply.
  Response Answer(std::span<const std::uint8_t> request);

  // Nozzle events; std::out_of_range for a dispenser outside 1..dispensers or
  // a nozzle outside 1..8. Lift returns false when a nozzle is already up.
  bool Lift(int dispenser, int nozzle);
  void Hang(int dispenser);
  void SetAutoNozzle(bool on);
  // The dispenser loses its power and comes back (Dispenser::PowerCycle).
  void PowerCycle(int dispenser);

  // Moves every running fill by `seconds` at the flow rate (besides the clock).
  void Advance(double seconds);

  // Told of every volume a nozzle pours, as it pours: the dispenser, the
  // nozzle, the grade sold and the litres shown (whole hundredths). Called
  // with the line's lock held, so it must not call back into the line.
  // Empty: nobody is told.
  using PourObserver = std::function<void(int dispenser, int nozzle, int grade, double litres)>;
  void SetPourObserver(PourObserver observer);

  // Faults strike the next matching requests of the dispenser.
  void InjectFault(int dispenser, Request request, Fault fault);
  void ClearFaults(int dispenser);

  // Inspection and set-up, for tests and the CLI.
  int Dispensers() const { return options_.dispensers; }
  DispenserSnapshot Snapshot(int dispenser);
  void SetTotals(int dispenser, int nozzle, NozzleTotals totals);
  // Well-formed requests received since construction, per request kind.
  std::uint64_t Count(Request request) const;

 private:
  Dispenser& At(int dispenser);
  void CatchUpClock();
  // Pours into dispenser d's running fill and tells the observer.
  void Pour(int dispenser, double litres);
  std::optional<Bytes> Execute(int dispenser, Request request, const Bytes& info,
                               std::uint8_t addressByte);
  // Automatic nozzles, at each status poll.
  void ActAsCustomer(int dispenser);
  void EndUnlimitedFill(int dispenser);
  std::optional<Fault> TakeFault(int dispenser, Request request);

  LineOptions options_;
  mutable std::mutex mutex_;
  std::array<std::optional<Dispenser>, kLastDispenser> dispensers_;
  std::map<std::pair<int, Request>, Fault> faults_;
  std::array<std::uint64_t, kRequestKinds> counts_{};
  std::array<std::uint8_t, kLastDispenser> lastReported_{};  // status byte of the last poll
  double lastClock_ = 0;
  PourObserver pourObserver_;
};

}  // namespace quorlan::sim
