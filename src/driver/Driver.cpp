// The facade over the driver core for programs that embed it. It keeps its
// own price book: the core starts without placeholder prices, and every path
// that would put a price on the line checks the book first.

#include "quorlan/Driver.h"

#include <cmath>
#include <string>
#include <utility>

#include "commands/DriverState.h"
#include "commands/Messages.h"
#include "commands/NozzleStates.h"
#include "commands/Presets.h"
#include "commands/PriceDownload.h"
#include "commands/StatusPoll.h"
#include "commands/Stop.h"
#include "commands/Totals.h"
#include "commands/TransactionReadout.h"
#include "driver/DispenserStates.h"

namespace quorlan {

namespace {

// Limits arrive as litres or money, not hundredths.
constexpr double kHighestLimitValue = kHighestLimit / 100.0;

// The English words for the failure each core message names.
std::string EnglishFor(std::string_view message) {
  struct Pair {
    std::string_view driver, english;
  };
  static constexpr Pair kPairs[] = {
      {messages::kStatusRequest, "status request failed"},
      {messages::kRelease, "nozzle release failed"},
      {messages::kTransactionRequest, "transaction request failed"},
      {messages::kStop, "stop failed"},
      {messages::kSetPrice, "price download failed"},
      {messages::kTotalsRequest, "totals request failed"},
      {messages::kCantStart, "authorization failed"},
  };
  for (const auto& pair : kPairs) {
    if (pair.driver == message) return std::string(pair.english);
  }
  return "exchange failed";
}

std::string Where(Channel channel, Dispenser dispenser) {
  return "channel " + std::to_string(channel) + ", dispenser " + std::to_string(dispenser);
}

void CheckNumber(const char* what, int value, int last) {
  if (value < 1 || value > last) {
    throw InvalidArgument(std::string(what) + " " + std::to_string(value) + " is outside 1.." +
                          std::to_string(last));
  }
}

void CheckLine(Channel channel, Dispenser dispenser) {
  CheckNumber("channel", channel, kLastChannel);
  CheckNumber("dispenser", dispenser, kLastDispenser);
}

}  // namespace

struct Driver::Core {
  Core(TPortDispatcher& port, const DriverOptions& options)
      : transport(port),
        logger(SystemLogPlatform(), kMaxLogSize, LogFormat::Stamped),
        state(port, logger, options.amountFromVolume, PriceSource::GivenOnly,
              ReplyDigits::Checked) {
    logger.SetThreshold(options.logLevel == LogLevel::Trace ? kTraceLevel : kInfoLevel);
    logger.SetFileName(options.logFile);
  }

  // Runs a core operation and turns the core's exceptions into the public
  // ones; the driver's own message stays in the log, naming the dispenser
  // (0: the whole line) so that a failure repeating there is summarized.
  template <class Operation>
  auto Run(Channel channel, Dispenser dispenser, Operation&& operation) {
    const auto where = [&] {
      return dispenser == 0 ? "channel " + std::to_string(channel) : Where(channel, dispenser);
    };
    try {
      return operation();
    } catch (const ESerialIO& error) {
      std::uint32_t code = transport.GetError(channel);
      if (code == 0) code = static_cast<std::uint32_t>(LinkError::DriverFailure);
      // The English words and the driver's own, for whoever knows its manual.
      logger.Log(kFailureLevel, where() + ": " + EnglishFor(error.Message()) + ": " +
                                    Describe(code) + " | " + error.Message());
      throw LinkFailure(code, EnglishFor(error.Message()) + " on channel " +
                                  std::to_string(channel) + ": " + Describe(code));
    } catch (const ERangeError& error) {
      logger.Log(kFailureLevel, where() + ": " + error.Message());
      throw InvalidArgument("a value is out of range on channel " + std::to_string(channel));
    } catch (const EDriverError& error) {
      logger.Log(kFailureLevel, where() + ": " + error.Message());
      throw Error("driver failure on channel " + std::to_string(channel));
    }
  }

  void RequirePrice(Channel channel, Dispenser dispenser, Grade grade) const {
    if (!state.HasPrice(channel, dispenser, grade)) {
      throw NoPrice("no price for grade " + std::to_string(grade) + " on " +
                    Where(channel, dispenser));
    }
  }

  TPortDispatcher& transport;
  Logger logger;
  DriverState state;
};

Driver::Driver(Transport& transport, DriverOptions options)
    : Driver(static_cast<TPortDispatcher&>(transport), std::move(options)) {}

Driver::Driver(TPortDispatcher& port, DriverOptions options)
    : core_(std::make_unique<Core>(port, options)) {}

Driver::~Driver() = default;

void Driver::OpenLine(Channel channel) {
  CheckNumber("channel", channel, kLastChannel);
  core_->Run(channel, 0, [&] {
    core_->state.link.SetupChannel(channel);
    // Every dispenser gets its grade 1 price before its next poll, once the
    // book has one.
    core_->state.priceDirty[channel].Fill(1);
  });
  // A line event: the log of a quiet, healthy line starts with it.
  core_->logger.Log(kInfoLevel, "channel " + std::to_string(channel) + ": line opened");
}

void Driver::SetPrice(Channel channel, Dispenser dispenser, Grade grade, double price) {
  CheckLine(channel, dispenser);
  CheckNumber("grade", grade, kLastGrade);
  const double scaled = price * 100;
  const auto hundredths = std::isfinite(scaled) ? std::llround(scaled) : 0;
  if (hundredths < kLowestPrice || hundredths > kHighestPrice ||
      static_cast<double>(hundredths) / 100 != price) {
    throw InvalidArgument("price " + std::to_string(price) +
                          " is not 0.01..99.99 with at most two decimals");
  }
  core_->state.prices[channel][dispenser][grade] = static_cast<std::int32_t>(hundredths);
  core_->state.priceGiven[channel][dispenser][grade] = 1;
}

std::optional<double> Driver::Price(Channel channel, Dispenser dispenser, Grade grade) const {
  CheckLine(channel, dispenser);
  CheckNumber("grade", grade, kLastGrade);
  if (!core_->state.HasPrice(channel, dispenser, grade)) return std::nullopt;
  return static_cast<double>(core_->state.prices[channel][dispenser][grade]) / 100;
}

void Driver::DownloadPrices(Channel channel, Dispenser dispenser) {
  CheckLine(channel, dispenser);
  for (Grade grade = 1; grade <= kTableGrades; ++grade) {
    core_->RequirePrice(channel, dispenser, grade);
  }
  core_->Run(channel, dispenser, [&] { DownloadPriceTable(core_->state, channel, dispenser); });
}

Status Driver::Poll(Channel channel, Dispenser dispenser, std::uint8_t nozzleMode) {
  CheckLine(channel, dispenser);
  return core_->Run(channel, dispenser, [&] {
    DriverState& s = core_->state;
    // Sends the grade 1 price when one is pending and the book has it.
    PrepareNozzleStatus(s, channel, dispenser, nozzleMode);
    const PollResult result = PollDispenser(s, channel, dispenser);
    if (result.badDigit) {
      throw LinkFailure(Code(LinkError::BadDigit), "status reply on " + Where(channel, dispenser) +
                                                       ": " + Describe(Code(LinkError::BadDigit)));
    }
    Status status;
    status.state = StateOf(result.code, result.status);
    status.code = static_cast<std::uint8_t>(result.code);
    status.statusByte = result.status;
    // Without the second address the driver only guesses the nozzle.
    if (nozzleMode != 0) status.nozzle = NozzleOf(result.code);
    status.volume = s.volume[channel][dispenser];
    status.amount = s.amount[channel][dispenser];
    return status;
  });
}

void Driver::Authorize(Channel channel, Dispenser dispenser, Grade grade, Limit limit) {
  CheckLine(channel, dispenser);
  CheckNumber("grade", grade, kLastGrade);
  if (limit.kind != Limit::Kind::None) {
    if (!(limit.value > 0) || !(limit.value <= kHighestLimitValue)) {
      throw InvalidArgument("limit " + std::to_string(limit.value) + " is not above 0 and up to " +
                            std::to_string(kHighestLimitValue));
    }
    core_->RequirePrice(channel, dispenser, grade);
  }
  core_->Run(channel, dispenser, [&] {
    DriverState& s = core_->state;
    switch (limit.kind) {
      case Limit::Kind::None:
        quorlan::Authorize(s, channel, dispenser, grade, false);
        return;
      case Limit::Kind::Volume:
        SetVolumePreset(s, channel, dispenser, limit.value);
        break;
      case Limit::Kind::Amount:
        SetAmountPreset(s, channel, dispenser, grade, limit.value);
        break;
    }
    quorlan::Authorize(s, channel, dispenser, grade, true);
  });
}

void Driver::Stop(Channel channel, Dispenser dispenser) {
  CheckLine(channel, dispenser);
  core_->Run(channel, dispenser, [&] { quorlan::Stop(core_->state, channel, dispenser); });
}

Reading Driver::Transaction(Channel channel, Dispenser dispenser) {
  CheckLine(channel, dispenser);
  return core_->Run(channel, dispenser, [&] {
    Reading reading;
    reading.volume = ReadTransaction(core_->state, channel, dispenser, reading.amount);
    return reading;
  });
}

Reading Driver::Totals(Channel channel, Dispenser dispenser, Nozzle nozzle) {
  CheckLine(channel, dispenser);
  CheckNumber("nozzle", nozzle, kLastNozzle);
  return core_->Run(channel, dispenser, [&] {
    Reading reading;
    if (!ReadTotals(core_->state, channel, dispenser, nozzle, reading.volume, reading.amount)) {
      std::uint32_t code = core_->transport.GetError(channel);
      if (code == 0) code = static_cast<std::uint32_t>(LinkError::BadLength);
      throw LinkFailure(code, "totals readout incomplete on " + Where(channel, dispenser) + ": " +
                                  Describe(code));
    }
    return reading;
  });
}

void Driver::LogEvent(std::string_view text) {
  core_->logger.Log(kInfoLevel, text);
}

void Driver::ReopenLog() {
  core_->logger.Reopen();
}

}  // namespace quorlan
