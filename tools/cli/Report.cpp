#include "Report.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdio>

namespace quorlan::cli {

std::string Where(int channel, int dispenser) {
  return fmt::format("channel {}, dispenser {}", channel, dispenser);
}

nlohmann::json Decimal(double value) {
  return std::round(value * 100) / 100;
}

void PrintJson(const nlohmann::json& object) {
  fmt::print("{}\n", object.dump());
  std::fflush(stdout);
}

std::string ReadingText(const DispenserReading& r) {
  std::string text = fmt::format("{}: {}", Where(r.channel, r.dispenser), r.state);
  if (r.nozzle > 0) text += fmt::format(", nozzle {}", r.nozzle);
  text += fmt::format(", volume {:.2f}, amount {:.2f}", r.volume, r.amount);
  if (r.statusByte) text += fmt::format(" (status byte {:02X})", *r.statusByte);
  return text;
}

nlohmann::json ReadingJson(const DispenserReading& r) {
  const auto optionalByte = [](std::optional<std::uint8_t> byte) {
    return byte ? nlohmann::json(*byte) : nlohmann::json(nullptr);
  };
  return {{"channel", r.channel},
          {"dispenser", r.dispenser},
          {"state", r.state},
          {"state_code", optionalByte(r.code)},
          {"status_byte", optionalByte(r.statusByte)},
          {"nozzle", r.nozzle > 0 ? nlohmann::json(r.nozzle) : nlohmann::json(nullptr)},
          {"volume", Decimal(r.volume)},
          {"amount", Decimal(r.amount)}};
}

std::string TotalsText(const TotalsReading& t) {
  return fmt::format("{}, nozzle {}: volume total {:.2f}, amount total {:.2f}",
                     Where(t.channel, t.dispenser), t.nozzle, t.volumeTotal, t.amountTotal);
}

nlohmann::json TotalsJson(const TotalsReading& t) {
  return {{"channel", t.channel},
          {"dispenser", t.dispenser},
          {"nozzle", t.nozzle},
          {"volume_total", Decimal(t.volumeTotal)},
          {"amount_total", Decimal(t.amountTotal)}};
}

}  // namespace quorlan::cli
