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

// The host's state codes: a base plus the lifted nozzle in the low bits for
// the four nozzle states; 0 means no valid reply.
inline constexpr std::uint8_t kStateNoReply = 0x00;
inline constexpr std::uint8_t kStateFinished = 0xC0;
inline constexpr std::uint8_t kStateFilling = 0xD0;
inline constexpr std::uint8_t kStateStopped = 0xD8;
inline constexpr std::uint8_t kStateIdle = 0xE0;
inline constexpr std::uint8_t kStateAuthorized = 0xE8;
inline constexpr std::uint8_t kStateNozzleMask = 0x07;
inline constexpr std::uint8_t kStateBaseMask = 0xF8;
inline constexpr std::uint8_t kStartGuardPolls = 11;

std::uint8_t MapState(DriverState& s, std::uint8_t c, std::uint8_t d, std::uint8_t status);
std::uint8_t ReadNozzleSubstate(DriverState& s, std::uint8_t c, std::uint8_t d);
void ReleaseNozzle(DriverState& s, std::uint8_t c, std::uint8_t d);

// Checks the numbers, sends pending prices and stores the mode; the poll
// itself is the caller's (through its operation table).
void PrepareNozzleStatus(DriverState& s, std::uint8_t c, std::uint8_t d, std::uint8_t mode);
void FillNozzleStatusRecord(std::uint16_t code, NozzleStatusRecord& record);

}  // namespace quorlan
