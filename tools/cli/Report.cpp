#include "Report.h"

#include <fmt/format.h>

#include "StateNames.h"

namespace quorlan::cli {

std::string StateText(std::uint8_t state) {
  return fmt::format("{:02X} {}", state, StateName(state));
}

std::string ReadingText(const DispenserReading& r) {
  return fmt::format("channel {}, dispenser {}: {}, nozzle {}, volume {:.2f}, amount {:.2f}",
                     r.channel, r.dispenser, StateText(r.state), NozzleOf(r.state), r.volume,
                     r.amount);
}

// State names are fixed ASCII words, so no string needs escaping.
std::string ReadingJson(const DispenserReading& r) {
  return fmt::format(R"({{"channel": {}, "dispenser": {}, "state": {}, "state_hex": "{:02X}", )"
                     R"("state_name": "{}", "nozzle": {}, "volume": {:.2f}, "amount": {:.2f}}})",
                     r.channel, r.dispenser, r.state, r.state, StateName(r.state),
                     NozzleOf(r.state), r.volume, r.amount);
}

std::string TotalsText(const TotalsReading& t) {
  return fmt::format(
      "channel {}, dispenser {}, nozzle {}: volume total {:.2f}, amount total {:.2f}", t.channel,
      t.dispenser, t.nozzle, t.volumeTotal, t.amountTotal);
}

std::string TotalsJson(const TotalsReading& t) {
  return fmt::format(R"({{"channel": {}, "dispenser": {}, "nozzle": {}, "volume_total": {:.2f}, )"
                     R"("amount_total": {:.2f}}})",
                     t.channel, t.dispenser, t.nozzle, t.volumeTotal, t.amountTotal);
}

}  // namespace quorlan::cli
