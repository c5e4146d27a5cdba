// A long random run: 8 channels of 32 dispensers each, random host calls
// with valid arguments, and a random fault before 5% of them. Nothing may
// crash, every failure must be the documented ESerialIO of its operation,
// and the tables must hold only values they may hold. The counts of each
// outcome are printed. QUORLAN_SOAK_OPERATIONS sets the length (default
// 100,000; a second or so natively, a few under the sanitizers).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "commands/Messages.h"
#include "commands/NozzleStates.h"
#include "driver/TVM30.h"
#include "sim/SimDispatcher.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::reliability {
namespace {

constexpr int kSoakChannels = 8;
constexpr int kFaultPercent = 5;
constexpr long kDefaultOperations = 100000;

long Operations() {
  const char* text = std::getenv("QUORLAN_SOAK_OPERATIONS");
  return text ? std::strtol(text, nullptr, 10) : kDefaultOperations;
}

using Random = std::mt19937_64;

int Pick(Random& random, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(random);
}

double Money(Random& random) {
  return Pick(random, 0, 9999) / 100.0;
}

struct Operation {
  const char* name;
  std::string_view failure;  // the documented ESerialIO message
  // Makes the call; returns a note on a notable success ("" otherwise).
  std::function<std::string(TVM30&, Random&, int c, int d)> call;
};

std::string CodeNote(std::uint16_t code) {
  return code == 0 ? "no status" : "";
}

const Operation kOperations[] = {
    {"GetNozzleStatus", messages::kStatusRequest,
     [](TVM30& driver, Random& random, int c, int d) {
       NozzleStatusRecord record;
       driver.GetNozzleStatus(std::uint8_t(c), std::uint8_t(d), std::uint8_t(Pick(random, 0, 2)),
                              record);
       EXPECT_EQ(record.bytes[14], record.bytes[0] & 7);
       return CodeNote(record.bytes[0]);
     }},
    {"PollStatus", messages::kStatusRequest,
     [](TVM30& driver, Random&, int c, int d) { return CodeNote(driver.PollStatus(c, d)); }},
    {"SetPrice", messages::kSetPrice,
     [](TVM30& driver, Random& random, int c, int d) {
       driver.SetPrice(c, d, Pick(random, 1, 8), 0, 0, Money(random));
       return std::string();
     }},
    {"SetVolumePreset",
     {},
     [](TVM30& driver, Random& random, int c, int d) {
       driver.SetVolumePreset(c, d, 0, 0, Pick(random, 1, 5000) / 100.0);
       return std::string();
     }},
    {"SetAmountPreset",
     {},
     [](TVM30& driver, Random& random, int c, int d) {
       driver.SetAmountPreset(c, d, Pick(random, 1, 8), 0, Money(random));
       return std::string();
     }},
    {"Start", messages::kCantStart,
     [](TVM30& driver, Random& random, int c, int d) {
       driver.Start(c, d, Pick(random, 1, 8));
       return std::string();
     }},
    {"Authorize", messages::kCantStart,
     [](TVM30& driver, Random& random, int c, int d) {
       driver.Authorize(c, d, Pick(random, 1, 8), std::uint8_t(Pick(random, 0, 1)));
       return std::string();
     }},
    {"Stop", messages::kStop,
     [](TVM30& driver, Random&, int c, int d) {
       driver.StopNozzle(c, d, 0, 0);
       return std::string();
     }},
    {"GetTransaction", messages::kTransactionRequest,
     [](TVM30& driver, Random&, int c, int d) {
       double volume = -1, amount = -1;
       driver.GetTransaction(c, d, volume, amount);
       EXPECT_GE(volume, 0);
       return std::string(driver.GetLinkState(c) == kLinkGood ? "" : "link bad");
     }},
    {"ReadTotals", messages::kTotalsRequest,
     [](TVM30& driver, Random& random, int c, int d) {
       double volume = -1, amount = -1;
       driver.ReadTotals(c, d, Pick(random, 1, 8), volume, amount, 0, 0);
       EXPECT_GE(volume, 0);
       EXPECT_GE(amount, 0);
       return std::string(driver.GetLinkState(c) == kLinkGood ? "" : "link bad");
     }},
    {"OpenChannel",
     {},
     [](TVM30& driver, Random&, int c, int) {
       driver.OpenChannel(c);
       return std::string();
     }},
};

void CheckTables(DriverState& s) {
  for (int c = 0; c <= kChannels; ++c) {
    for (int d = 1; d <= kDispensers; ++d) {
      ASSERT_NE(s.nozzleMode[c][d], 1);
      ASSERT_LE(s.startGuard[c][d], kStartGuardPolls);
      ASSERT_LE(s.priceDirty[c][d], 1);
    }
  }
}

TEST(Soak, RandomCallsWithFivePercentFaultsEndOnlyInDocumentedOutcomes) {
  const long operations = Operations();
  testing::MemoryLogPlatform platform;
  Logger logger(platform, 256 * 1024);
  logger.SetFileName("soak.log");
  sim::SimDispatcher port;
  TVM30 driver(port, kFlagAmountFromVolume, logger);
  for (int c = 1; c <= kSoakChannels; ++c) {
    port.Attach(
        c, std::make_shared<sim::Line>(sim::LineOptions{
               .dispensers = kDispensers, .volumePerPoll = 0.3, .clock = {}, .autoNozzle = true}));
    driver.OpenChannel(c);
  }

  Random random(0x51A4);
  std::map<std::string, long> outcomes, faults;
  for (long i = 0; i < operations; ++i) {
    const int c = Pick(random, 1, kSoakChannels), d = Pick(random, 1, kDispensers);
    if (Pick(random, 1, 100) <= kFaultPercent) {
      const auto kind = static_cast<sim::FaultKind>(Pick(random, 0, 5));
      const auto request = static_cast<sim::Request>(Pick(random, 0, sim::kRequestKinds - 1));
      // Half the short replies keep whole pairs, which the reply check may accept.
      std::optional<int> length;
      if (Pick(random, 0, 1) == 1) length = 2 * Pick(random, 0, 11);
      port.LineOn(c)->InjectFault(
          d, request,
          {.kind = kind, .statusByte = std::uint8_t(Pick(random, 0, 255)), .length = length});
      ++faults[std::string(sim::FaultName(kind))];
    }
    const Operation& operation = kOperations[Pick(random, 0, std::size(kOperations) - 1)];
    std::string outcome;
    try {
      const std::string note = operation.call(driver, random, c, d);
      outcome = note.empty() ? "ok" : note;
    } catch (const ESerialIO& error) {
      EXPECT_EQ(error.Message(), operation.failure) << operation.name;
      outcome = "ESerialIO";
    } catch (const EDriverError& error) {
      ADD_FAILURE() << operation.name << " raised " << error.ClassName() << " on valid arguments";
      outcome = error.ClassName();
    }
    ++outcomes[std::string(operation.name) + ": " + outcome];
  }
  CheckTables(driver.State());

  std::printf("soak: %ld operations on %d channels x %d dispensers\n", operations, kSoakChannels,
              kDispensers);
  for (const auto& [kind, count] : faults) std::printf("  fault %-12s %7ld\n", kind.c_str(), count);
  for (const auto& [what, count] : outcomes) std::printf("  %-30s %7ld\n", what.c_str(), count);
}

}  // namespace
}  // namespace quorlan::reliability
