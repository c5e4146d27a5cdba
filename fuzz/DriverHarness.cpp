// The whole driver under arbitrary host calls and an arbitrary line: a
// sequence of operations with host values from the input, against a
// dispatcher whose replies, counts, error codes and link states also come
// from the input. After every operation: only the host's three exception
// classes escape, with the operation's own message; only the entries the
// operation may write changed; every table holds values it may hold; the
// link state is what the dispatcher reported, 3 or what the host set.

#include <cmath>
#include <cstring>
#include <string>

#include "Check.h"
#include "FuzzDispatcher.h"
#include "FuzzInput.h"
#include "LogCheck.h"
#include "TableWatch.h"
#include "commands/Messages.h"
#include "driver/TVM30.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::fuzz {
namespace {

constexpr const char* kLogName = "fuzz.log";
// Small enough that a run rotates the log many times.
constexpr std::int32_t kLogLimit = 2048;
constexpr int kMaxOperations = 96;
constexpr double kUntouched = -7.25;
constexpr std::uint8_t kRecordFill = 0x5A;

bool InRange(std::int64_t value, std::int64_t lo, std::int64_t hi) {
  return value >= lo && value <= hi;
}

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class DriverRun {
 public:
  explicit DriverRun(FuzzInput& input)
      : input_(input),
        port_(input),
        logger_(platform_, kLogLimit),
        driver_(port_, input.Byte(), logger_),
        s_(driver_.State()),
        watch_(s_) {
    logger_.SetFileName(kLogName);
  }

  void Run() {
    for (int i = 0; i < kMaxOperations && !input_.Empty(); ++i) Step(input_.Byte() % 24);
    CheckLog(platform_, kLogName);
  }

 private:
  // True when the call returned, false when it raised one of the exceptions
  // a host may see; anything else escapes and ends the run.
  template <class Call>
  bool Returns(std::string_view serialMessage, Call&& call) {
    try {
      call();
      return true;
    } catch (const ESerialIO& error) {
      FUZZ_CHECK(!serialMessage.empty() && error.Message() == serialMessage,
                 "%s raised ESerialIO '%s'", name_, error.what());
    } catch (const ERangeError& error) {
      FUZZ_CHECK(error.Message() == ERangeError::kMessage, "range error text '%s'", error.what());
    } catch (const EAbstractError&) {
      FUZZ_CHECK(abstractAllowed_, "%s raised the abstract error", name_);
    }
    return false;
  }

  std::uint32_t Number() { return input_.HostNumber(); }

  void Step(int entry);
  void TransactionReadout(bool throughGetTransaction);
  void CheckLinkStates(std::int64_t setChannel, std::uint8_t setState, std::int64_t totalsChannel);

  FuzzInput& input_;
  FuzzDispatcher port_;
  quorlan::testing::MemoryLogPlatform platform_;
  Logger logger_;
  TVM30 driver_;
  DriverState& s_;
  TableWatch watch_;
  const char* name_ = "";
  bool abstractAllowed_ = false;
};

void DriverRun::TransactionReadout(bool throughGetTransaction) {
  const auto c = Number(), d = Number();
  double volume = kUntouched, amount = kUntouched;
  const bool returned = Returns(messages::kTransactionRequest, [&] {
    if (throughGetTransaction) {
      driver_.GetTransaction(c, d, volume, amount);
    } else {
      volume = driver_.ReadTransaction(c, d, amount);
    }
  });
  FUZZ_CHECK(SameBits(amount, 0.0) || returned, "a failed readout left amount %g", amount);
  if (!returned) {
    FUZZ_CHECK(SameBits(volume, kUntouched), "a failed readout wrote volume %g", volume);
    return;
  }
  // A readout that returned had a channel in range; the dispenser is
  // checked only when the link is good.
  const bool good = s_.link.LinkState(c) == kLinkGood;
  FUZZ_CHECK(SameBits(volume, good ? s_.volume[c][d] : 0.0), "readout volume %g", volume);
  FUZZ_CHECK(SameBits(amount, good ? s_.amount[c][d] : 0.0), "readout amount %g", amount);
}

void DriverRun::Step(int entry) {
  static constexpr const char* kNames[24] = {
      "NotImplemented", "GetDescription",  "SetLinkState", "GetLinkState",    "Stop",
      "Reserved5",      "GetTransaction",  "ReadTotals",   "Reserved8",       "ReadTransaction",
      "PollStatus",     "SetPrice",        "Reserved12",   "SetVolumePreset", "SetAmountPreset",
      "Start",          "OpenChannel",     "Reserved17",   "Reserved18",      "Authorize",
      "QueryOption",    "GetNozzleStatus", "StopNozzle",   "Reserved23"};
  name_ = kNames[entry];
  abstractAllowed_ = entry == 0;
  port_.ForgetReported();
  WriteScope scope;
  std::int64_t setChannel = -1, totalsChannel = -1;
  std::uint8_t setState = 0;
  const auto at = [&scope](std::uint32_t tables, std::int64_t c, std::int64_t d) {
    scope = {tables, c, d, d};
  };
  constexpr std::uint32_t kPollTables = Bit(Table::Volume) | Bit(Table::Amount) |
                                        Bit(Table::NozzleState) | Bit(Table::StartGuard) |
                                        Bit(Table::PriceDirty);

  switch (entry) {
    case 0:
      FUZZ_CHECK(!Returns({}, [&] { driver_.NotImplemented(); }), "entry 0 returned");
      break;
    case 1: {
      const std::string text = driver_.GetDescription();
      FUZZ_CHECK(text.size() == 24 && text[5] == '#', "description '%s'", text.c_str());
      break;
    }
    case 2:
      setChannel = Number();
      setState = input_.Byte();
      driver_.SetLinkState(static_cast<std::uint32_t>(setChannel), setState);
      break;
    case 3: {
      const auto c = Number();
      const auto state = driver_.GetLinkState(c);
      FUZZ_CHECK(state == (InRange(c, 1, kChannels) ? s_.link.LinkState(c) : 0),
                 "GetLinkState(%u) gave %d", c, state);
      break;
    }
    case 4:
    case 22: {
      const auto c = Number(), d = Number(), x = Number(), y = Number();
      std::int32_t result = -1;
      if (Returns(messages::kStop, [&] {
            result = entry == 4 ? driver_.Stop(c, d, x) : driver_.StopNozzle(c, d, x, y);
          })) {
        FUZZ_CHECK(result == 0, "stop result %d", result);
      }
      break;
    }
    case 6:
    case 9:
      TransactionReadout(entry == 6);
      break;
    case 7: {
      const auto c = Number(), d = Number();
      totalsChannel = c;
      const auto nozzle = static_cast<std::int32_t>(input_.Bool() ? input_.Byte() % 100 - 33
                                                                  : input_.Raw<std::int32_t>());
      double volume = kUntouched, amount = kUntouched;
      const bool returned = Returns(messages::kTotalsRequest, [&] {
        driver_.ReadTotals(c, d, nozzle, volume, amount, Number(), Number());
      });
      if (!returned || !InRange(c, 1, kChannels) || s_.link.LinkState(c) != kLinkGood) {
        FUZZ_CHECK(SameBits(volume, 0.0) && SameBits(amount, 0.0), "totals %g %g", volume, amount);
      }
      FUZZ_CHECK(volume >= 0 && volume <= 99999999.99, "volume total %g", volume);
      FUZZ_CHECK(amount >= 0 && amount <= 9999999999.99, "amount total %g", amount);
      break;
    }
    case 10: {
      const auto c = Number(), d = Number();
      at(kPollTables, c, d);
      std::uint16_t code = 0;
      Returns(messages::kStatusRequest, [&] { code = driver_.PollStatus(c, d); });
      FUZZ_CHECK(code <= 255, "state code %d", code);
      break;
    }
    case 11: {
      const auto c = Number(), d = Number(), g = Number(), x = Number(), y = Number();
      at(Bit(Table::Prices), c, d);
      Returns(messages::kSetPrice, [&] { driver_.SetPrice(c, d, g, x, y, input_.HostDouble()); });
      break;
    }
    case 13:
    case 14: {
      const auto c = Number(), d = Number(), g = Number(), x = Number();
      const double value = input_.HostDouble();
      at(Bit(Table::PresetVolume) | Bit(Table::PresetAmount), c, d);
      const bool returned = Returns({}, [&] {
        if (entry == 13) {
          driver_.SetVolumePreset(c, d, g, x, value);
        } else {
          driver_.SetAmountPreset(c, d, g, x, value);
        }
      });
      if (returned) {
        const double stored = entry == 13 ? s_.presetVolume[c][d] : s_.presetAmount[c][d];
        FUZZ_CHECK(SameBits(stored, value), "%s stored %g for %g", name_, stored, value);
      }
      break;
    }
    case 15:
    case 19: {
      const auto c = Number(), d = Number(), g = Number();
      const std::uint8_t preset = input_.Byte();
      at(Bit(Table::CurrentGrade) | Bit(Table::StartGuard), c, d);
      const bool returned = Returns(messages::kCantStart, [&] {
        if (entry == 15) {
          driver_.Start(c, d, g);
        } else {
          driver_.Authorize(c, d, g, preset);
        }
      });
      if (returned) {
        FUZZ_CHECK(s_.startGuard[c][d] == kStartGuardPolls, "authorized without the guard");
      }
      break;
    }
    case 16: {
      const auto c = Number();
      scope = {Bit(Table::PriceDirty), c, 1, 4};
      if (Returns({}, [&] { driver_.OpenChannel(c); })) {
        for (int d = 1; d <= 4; ++d) FUZZ_CHECK(s_.priceDirty[c][d] == 1, "d %d not marked", d);
      }
      break;
    }
    case 20: {
      const auto option = Number();
      std::int32_t value = -77;
      const bool known = driver_.QueryOption(option, value);
      FUZZ_CHECK(known == InRange(option, 1, 5), "option %u answered %d", option, known);
      FUZZ_CHECK(known ? value == (option == 3 ? 1 : 0) : value == -77, "option %u value %d",
                 option, value);
      break;
    }
    case 21: {
      const std::uint8_t c = input_.Byte() % 40, d = input_.Byte() % 40, mode = input_.Byte() % 4;
      at(kPollTables | Bit(Table::NozzleMode), c, d);
      NozzleStatusRecord record;
      record.bytes.fill(kRecordFill);
      const bool returned =
          Returns(messages::kStatusRequest, [&] { driver_.GetNozzleStatus(c, d, mode, record); });
      for (int i = 2; i < 14; ++i) {
        FUZZ_CHECK(record.bytes[i] == kRecordFill, "record byte %d written", i);
      }
      if (returned) {
        FUZZ_CHECK(record.bytes[1] == 0 && record.bytes[15] == 0 &&
                       record.bytes[14] == (record.bytes[0] & 7),
                   "record %02X %02X %02X %02X", record.bytes[0], record.bytes[1], record.bytes[14],
                   record.bytes[15]);
      } else {
        FUZZ_CHECK(record.bytes[0] == kRecordFill && record.bytes[14] == kRecordFill,
                   "a failed nozzle status wrote the record");
      }
      break;
    }
    default: {  // the no-operation entries take any values and do nothing
      const auto a = Number(), b = Number(), c = Number(), d = Number(), e = Number();
      driver_.Reserved5(a);
      driver_.Reserved8(a, b, c, d, e, a, b);
      driver_.Reserved12(a, b, c);
      driver_.Reserved17(a, b, c);
      driver_.Reserved18(a, b, c, d);
      driver_.Reserved23(a, b, c, d);
      break;
    }
  }
  watch_.CheckOnlyWithin(scope, name_);
  watch_.CheckValues(scope, name_);
  CheckLinkStates(setChannel, setState, entry == 7 ? totalsChannel : -1);
  watch_.Take();
}

// The totals readout may also mark its channel bad (a reply digit above 9).
void DriverRun::CheckLinkStates(std::int64_t setChannel, std::uint8_t setState,
                                std::int64_t totalsChannel) {
  const auto& reported = port_.Reported();
  for (int c = 1; c <= kChannels; ++c) {
    const std::uint8_t actual = s_.link.LinkState(c);
    std::uint8_t expected = watch_.LinkStateBefore(c);
    const auto it = reported.find(c);
    if (it != reported.end()) expected = it->second;
    if (c == setChannel) expected = setState;
    const bool markedBad = c == totalsChannel && actual == kLinkBad;
    FUZZ_CHECK(actual == expected || markedBad, "after %s LinkState[%d] is %d, expected %d", name_,
               c, actual, expected);
  }
}

}  // namespace
}  // namespace quorlan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorlan::fuzz::FuzzInput input(data, size);
  quorlan::fuzz::DriverRun(input).Run();
  return 0;
}
