#include "DriverCalls.h"

#include "StateNames.h"

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
  if (driver.GetLinkState(U(c)) == kLinkGood) return;
  throw OperationError(
      fmt::format("{} failed on {}: the reading did not arrive", operation, Where(c, d)),
      "bad reply");
}
}  // namespace

DispenserReading PollDispenser(Session& session, int c, int d, int mode) {
  DispenserReading reading{.channel = c, .dispenser = d};
  session.Run("status", c, d, [&](TVM30& driver) {
    NozzleStatusRecord record;
    driver.GetNozzleStatus(B(c), B(d), B(mode), record);
    const auto code = record.bytes[0];
    reading.code = code;
    reading.state = std::string(StateName(code));
    reading.nozzle = mode == 0 ? 0 : NozzleOf(code);
    reading.volume = driver.State().volume[c][d];
    reading.amount = driver.State().amount[c][d];
  });
  if (reading.code == 0) {
    throw OperationError(fmt::format("status failed on {}: no valid status", Where(c, d)),
                         "no reply");
  }
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
  auto poll = PollDispenser(session, c, d, mode);
  const auto stored = ReadStoredTransaction(session, c, d);
  poll.volume = stored.volume;
  poll.amount = stored.amount;
  return poll;
}

TotalsReading ReadTotals(Session& session, int c, int d, int nozzle) {
  TotalsReading totals{.channel = c, .dispenser = d, .nozzle = nozzle};
  session.Run("totals", c, d, [&](TVM30& driver) {
    driver.ReadTotals(U(c), U(d), nozzle, totals.volumeTotal, totals.amountTotal, 0, 0);
    RequireGoodLink(driver, "totals", c, d);
  });
  return totals;
}

void BookPrice(Session& session, int c, int d, int grade, double price) {
  session.Book()[{c, d, grade}] = price;
}

void SendPrices(Session& session, int c, int d) {
  const auto& book = session.Book();
  for (int g = 1; g <= kTableGrades; ++g) {
    if (!book.contains({c, d, g})) {
      throw UsageError(
          fmt::format("price: {} has no price for grade {}: give --prices with "
                      "grades 1..{}",
                      Where(c, d), g, kTableGrades));
    }
  }
  session.Run("price", c, d, [&](TVM30& driver) {
    for (int g = 1; g <= kTableGrades; ++g) {
      driver.SetPrice(U(c), U(d), U(g), 0, 0, book.at({c, d, g}));
    }
  });
}

void AuthorizeFill(Session& session, int c, int d, int grade, Limit limit) {
  if (limit.kind != Limit::Kind::None && !session.Book().contains({c, d, grade})) {
    throw UsageError(
        fmt::format("{} has no price for grade {}, which the preset carries: give "
                    "--price",
                    Where(c, d), grade));
  }
  session.Run("authorize", c, d, [&](TVM30& driver) {
    switch (limit.kind) {
      case Limit::Kind::None:
        driver.Authorize(U(c), U(d), U(grade), 0);
        return;
      case Limit::Kind::Volume:
        driver.SetPrice(U(c), U(d), U(grade), 0, 0, session.Book().at({c, d, grade}));
        driver.SetVolumePreset(U(c), U(d), 0, 0, limit.value);
        break;
      case Limit::Kind::Amount:
        driver.SetPrice(U(c), U(d), U(grade), 0, 0, session.Book().at({c, d, grade}));
        driver.SetAmountPreset(U(c), U(d), U(grade), 0, limit.value);
        break;
    }
    driver.Start(U(c), U(d), U(grade));
  });
}

void StopDispenser(Session& session, int c, int d) {
  session.Run("stop", c, d, [&](TVM30& driver) { driver.Stop(U(c), U(d), 0); });
}

}  // namespace quorlan::cli
