#pragma once
// How results are printed: one plain line each, or one JSON object whose
// keys name what they hold.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace quorlan::cli {

// A dispenser as a poll found it.
struct DispenserReading {
  int channel = 1;
  int dispenser = 1;
  std::string state{};                       // "idle", "filling", "no prices", "no reply", ...
  std::optional<std::uint8_t> code{};        // the driver's state code
  std::optional<std::uint8_t> statusByte{};  // the raw byte of the reply, when one came
  int nozzle = 0;                            // the lifted nozzle; 0: none, or not read
  double volume = 0;                         // the fill in progress or the last one
  double amount = 0;
};

struct TotalsReading {
  int channel = 1;
  int dispenser = 1;
  int nozzle = 1;
  double volumeTotal = 0;
  double amountTotal = 0;
};

// "idle, nozzle 3, volume 1.00, amount 52.90 (status byte 9A)"
std::string ReadingText(const DispenserReading& reading);
nlohmann::json ReadingJson(const DispenserReading& reading);
std::string TotalsText(const TotalsReading& totals);
nlohmann::json TotalsJson(const TotalsReading& totals);

// "channel 1, dispenser 2"
std::string Where(int channel, int dispenser);
// Money and volumes as JSON numbers with two decimals.
nlohmann::json Decimal(double value);
// One object on one line, flushed.
void PrintJson(const nlohmann::json& object);

}  // namespace quorlan::cli
