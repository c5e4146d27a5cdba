#pragma once
// Status bytes become the host's state codes, with the nozzle sub-status and
// release requests to the dispenser's second address.

#include <array>
#include <cstdint>

#include "commands/DriverState.h"

namespace quorlan {

// The host's 16-byte nozzle status record; the driver writes bytes 0, 1, 14
// and 15 only.
struct NozzleStatusRecord {
  std::array<std::uint8_t, 16> bytes{};
};

inline constexpr std::uint8_t kStateFinished = 0xC0;
inline constexpr std::uint8_t kStartGuardPolls = 11;

std::uint8_t MapState(DriverState& s, std::uint8_t c, std::uint8_t d, std::uint8_t status);
std::uint8_t ReadNozzleSubstate(DriverState& s, std::uint8_t c, std::uint8_t d);
void ReleaseNozzle(DriverState& s, std::uint8_t c, std::uint8_t d);

// Checks the numbers, sends pending prices and stores the mode; the poll
// itself is the caller's (through its operation table).
void PrepareNozzleStatus(DriverState& s, std::uint8_t c, std::uint8_t d, std::uint8_t mode);
void FillNozzleStatusRecord(std::uint16_t code, NozzleStatusRecord& record);

}  // namespace quorlan
