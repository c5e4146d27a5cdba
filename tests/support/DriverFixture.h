#pragma once
// A driver object wired to a scriptable dispatcher and an in-memory log.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/TVM30.h"
#include "support/FakeDispatcher.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::testing {

inline constexpr const char* kTestLog = "/station/host.log";

class DriverFixture : public ::testing::Test {
 protected:
  explicit DriverFixture(std::uint32_t flags = 0) : driver(port, flags, logger) {
    logger.SetFileName(kTestLog);
  }

  // Logged texts without time stamps (the first entry is the paragraph break).
  std::vector<std::string> LogTexts() const { return platform.Texts(kTestLog); }
  bool Logged(const std::string& text) const {
    for (const auto& t : LogTexts())
      if (t == text) return true;
    return false;
  }
  DriverState& S() { return driver.State(); }
  Bytes LastRequest() const { return port.exchanges.back().request; }

  MemoryLogPlatform platform;
  Logger logger{platform};
  FakeDispatcher port;
  TVM30 driver;
};

// Info bytes of a status reply: amount and volume least significant first.
inline Bytes StatusInfo(std::uint8_t status, Bytes amount = {0, 0, 0}, Bytes volume = {0, 0, 0}) {
  return {0, 0, amount[0], amount[1], amount[2], volume[0], volume[1], volume[2], status};
}

// Same, with AmountFromVolume set.
class AmountFromVolumeFixture : public DriverFixture {
 protected:
  AmountFromVolumeFixture() : DriverFixture(kFlagAmountFromVolume) {}
};

}  // namespace quorlan::testing
