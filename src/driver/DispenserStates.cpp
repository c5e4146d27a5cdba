#include "driver/DispenserStates.h"

#include "commands/NozzleStates.h"

namespace quorlan {

namespace {

// A dispenser that has lost its prices asks for them with this status.
constexpr std::uint8_t kStatusPoweredUp = 0x2F;

bool CarriesNozzle(std::uint16_t code) {
  return code >= 0xD0 && code <= 0xEF;
}

}  // namespace

DispenserState StateOf(std::uint16_t code, std::optional<std::uint8_t> status) {
  if (!status) return DispenserState::NoReply;
  if (*status == kStatusPoweredUp) return DispenserState::NoPrices;
  if (code == kStateFinished) return DispenserState::Finished;
  if (!CarriesNozzle(code)) return DispenserState::Unknown;
  switch (code & 0xF8) {
    case 0xD0:
      return DispenserState::Filling;
    case 0xD8:
      return DispenserState::Stopped;
    case 0xE0:
      return DispenserState::Idle;
    default:
      return DispenserState::Authorized;
  }
}

Nozzle NozzleOf(std::uint16_t code) {
  return CarriesNozzle(code) ? static_cast<Nozzle>(code & 7) : 0;
}

std::string_view StateName(DispenserState state) {
  switch (state) {
    case DispenserState::Idle:
      return "idle";
    case DispenserState::Authorized:
      return "authorized";
    case DispenserState::Filling:
      return "filling";
    case DispenserState::Stopped:
      return "stopped";
    case DispenserState::Finished:
      return "finished";
    case DispenserState::NoPrices:
      return "no prices";
    case DispenserState::NoReply:
      return "no reply";
    case DispenserState::Unknown:
      break;
  }
  return "unknown";
}

}  // namespace quorlan
