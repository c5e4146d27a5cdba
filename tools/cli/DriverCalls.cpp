#include "DriverCalls.h"

namespace quorlan::cli {

namespace {
std::uint32_t U(int value) {
  return static_cast<std::uint32_t>(value);
}
std::uint8_t B(int value) {
  return static_cast<std::uint8_t>(value);
}

// Readouts hand out 0.0 without raising when the reply was unusable; the
// user must not mistake that for a reading.
void RequireGoodLink(TVM30& driver, std::string_view operation, int c, int d) {
  const auto state = driver.GetLinkState(U(c));
  if (state == kLinkGood) return;
  throw OperationError(
      fmt::format("{} failed on channel {}, dispenser {}: the reply was not usable (link state {})",
                  operation, c, d, state));
}
}  // namespace

DispenserReading PollDispenser(Session& session, int c, int d, int mode) {
  DispenserReading reading{.channel = c, .dispenser = d};
  session.Run("status", c, d, [&](TVM30& driver) {
    NozzleStatusRecord record;
    driver.GetNozzleStatus(B(c), B(d), B(mode), record);
    reading.state = record.bytes[0];
    reading.volume = driver.State().volume[c][d];
    reading.amount = driver.State().amount[c][d];
  });
  return reading;
}

DispenserReading ReadStoredTransaction(Session& session, int c, int d) {
  DispenserReading reading{.channel = c, .dispenser = d};
  session.Run("transaction", c, d, [&](TVM30& driver) {
    driver.GetTransaction(U(c), U(d), reading.volume, reading.amount);
    RequireGoodLink(driver, "transaction", c, d);
  });
  return reading;
}

DispenserReading ReadTransaction(Session& session, int c, int d, int mode) {
  const auto state = PollDispenser(session, c, d, mode).state;
  auto reading = ReadStoredTransaction(session, c, d);
  reading.state = state;
  return reading;
}

TotalsReading ReadTotals(Session& session, int c, int d, int nozzle) {
  TotalsReading totals{.channel = c, .dispenser = d, .nozzle = nozzle};
  session.Run("totals", c, d, [&](TVM30& driver) {
    driver.ReadTotals(U(c), U(d), nozzle, totals.volumeTotal, totals.amountTotal, 0, 0);
    RequireGoodLink(driver, "totals", c, d);
  });
  return totals;
}

void SendPrice(Session& session, int c, int d, int grade, double price) {
  session.Run("price", c, d,
              [&](TVM30& driver) { driver.SetPrice(U(c), U(d), U(grade), 0, 0, price); });
  session.RememberPrice(c, d, grade);
}

void PresetAndStart(Session& session, int c, int d, int grade, std::optional<double> volume,
                    std::optional<double> amount) {
  session.Run("preset", c, d, [&](TVM30& driver) {
    if (volume) driver.SetVolumePreset(U(c), U(d), 0, 0, *volume);
    if (amount) driver.SetAmountPreset(U(c), U(d), U(grade), 0, *amount);
    driver.Start(U(c), U(d), U(grade));
  });
}

void AuthorizePlain(Session& session, int c, int d, int grade) {
  session.Run("authorize", c, d, [&](TVM30& driver) { driver.Authorize(U(c), U(d), U(grade), 0); });
}

void StopDispenser(Session& session, int c, int d) {
  session.Run("stop", c, d, [&](TVM30& driver) { driver.Stop(U(c), U(d), 0); });
}

}  // namespace quorlan::cli
