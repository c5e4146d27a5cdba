#include "DriverCalls.h"

namespace quorlan::cli {

namespace {
Channel C(int channel) {
  return static_cast<Channel>(channel);
}
Dispenser D(int dispenser) {
  return static_cast<Dispenser>(dispenser);
}
}  // namespace

DispenserReading PollDispenser(Session& session, int c, int d, int mode) {
  const auto status = session.Run("status", c, d, [&](Driver& driver) {
    return driver.Poll(C(c), D(d), static_cast<std::uint8_t>(mode));
  });
  if (status.state == DispenserState::NoReply) {
    throw OperationError(fmt::format("status failed on {}: no valid status", Where(c, d)),
                         "no reply");
  }
  return {.channel = c,
          .dispenser = d,
          .state = std::string(StateName(status.state)),
          .code = status.code,
          .statusByte = status.statusByte,
          .nozzle = status.nozzle,
          .volume = status.volume,
          .amount = status.amount};
}

DispenserReading ReadStoredTransaction(Session& session, int c, int d) {
  const auto reading = session.Run("transaction", c, d,
                                   [&](Driver& driver) { return driver.Transaction(C(c), D(d)); });
  return {.channel = c, .dispenser = d, .volume = reading.volume, .amount = reading.amount};
}

DispenserReading ReadTransaction(Session& session, int c, int d, int mode) {
  auto poll = PollDispenser(session, c, d, mode);
  const auto stored = ReadStoredTransaction(session, c, d);
  poll.volume = stored.volume;
  poll.amount = stored.amount;
  return poll;
}

TotalsReading ReadTotals(Session& session, int c, int d, int nozzle) {
  const auto reading = session.Run("totals", c, d, [&](Driver& driver) {
    return driver.Totals(C(c), D(d), static_cast<Nozzle>(nozzle));
  });
  return {.channel = c,
          .dispenser = d,
          .nozzle = nozzle,
          .volumeTotal = reading.volume,
          .amountTotal = reading.amount};
}

void BookPrice(Session& session, int c, int d, int grade, double price) {
  session.Run("price", c, d, [&](Driver& driver) {
    driver.SetPrice(C(c), D(d), static_cast<Grade>(grade), price);
  });
}

std::optional<double> BookedPrice(Session& session, int c, int d, int grade) {
  return session.Run("price", c, d, [&](Driver& driver) {
    return driver.Price(C(c), D(d), static_cast<Grade>(grade));
  });
}

void SendPrices(Session& session, int c, int d) {
  for (int g = 1; g <= int{kTableGrades}; ++g) {
    if (!BookedPrice(session, c, d, g)) {
      throw UsageError(
          fmt::format("price: {} has no price for grade {}: give the table with "
                      "--prices (grades 1..{})",
                      Where(c, d), g, kTableGrades));
    }
  }
  session.Run("price", c, d, [&](Driver& driver) { driver.DownloadPrices(C(c), D(d)); });
}

void AuthorizeFill(Session& session, int c, int d, int grade, Limit limit) {
  if (limit.kind != Limit::Kind::None && !BookedPrice(session, c, d, grade)) {
    throw UsageError(
        fmt::format("preset: {} has no price for grade {}, which the preset carries: give --price",
                    Where(c, d), grade));
  }
  try {
    session.Run("authorize", c, d, [&](Driver& driver) {
      driver.Authorize(C(c), D(d), static_cast<Grade>(grade), limit);
    });
  } catch (const OperationError&) {
    // A dispenser without prices, or one busy with a fill, ignores an
    // authorization but answers its status: say which rather than only that
    // it did not answer. The poll may
    // itself carry a booked grade 1 price out, so a dispenser that answers
    // it counts too.
    std::string state = "no reply";
    try {
      state = PollDispenser(session, c, d, 0).state;
    } catch (const std::exception&) {
    }
    if (state == "no prices") {
      throw OperationError(fmt::format(
          "authorize failed on {}: the dispenser has no prices; send them first with quorlan "
          "price",
          Where(c, d)));
    }
    if (state == "authorized" || state == "filling" || state == "stopped" || state == "finished") {
      throw OperationError(fmt::format(
          "authorize failed on {}: the dispenser is {} and refuses a new authorization until "
          "that fill is over",
          Where(c, d), state));
    }
    if (state != "no reply") {
      throw OperationError(fmt::format(
          "authorize failed on {}: the dispenser answers its status ({}) but ignored the "
          "authorization, as one without prices does; send them with quorlan price and try "
          "again",
          Where(c, d), state));
    }
    throw;
  }
  session.RememberLimit(c, d, limit);
}

void StopDispenser(Session& session, int c, int d) {
  session.Run("stop", c, d, [&](Driver& driver) { driver.Stop(C(c), D(d)); });
}

}  // namespace quorlan::cli
