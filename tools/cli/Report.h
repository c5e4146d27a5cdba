#pragma once
// How results are printed: one plain line each, or one JSON object whose
// keys name what they hold.

#include <cstdint>
#include <string>

namespace quorlan::cli {

// A dispenser as the last poll left it: state code, volume and amount.
struct DispenserReading {
  int channel = 1;
  int dispenser = 1;
  std::uint8_t state = 0;
  double volume = 0;
  double amount = 0;
};

struct TotalsReading {
  int channel = 1;
  int dispenser = 1;
  int nozzle = 1;
  double volumeTotal = 0;
  double amountTotal = 0;
};

std::string StateText(std::uint8_t state);  // "E1 idle"
std::string ReadingText(const DispenserReading& reading);
std::string ReadingJson(const DispenserReading& reading);
std::string TotalsText(const TotalsReading& totals);
std::string TotalsJson(const TotalsReading& totals);

}  // namespace quorlan::cli
