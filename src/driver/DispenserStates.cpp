#include "driver/DispenserStates.h"

#include "commands/NozzleStates.h"
#include "link/Protocol.h"

namespace quorlan {

namespace {

bool CarriesNozzle(std::uint16_t code) {
  return code >= kStateFilling && code <= (kStateAuthorized | kStateNozzleMask);
}

}  // namespace

DispenserState StateOf(std::uint16_t code, std::optional<std::uint8_t> status) {
  if (!status) return DispenserState::NoReply;
  if (*status == status::kPoweredUp) return DispenserState::NoPrices;
  if (code == kStateFinished) return DispenserState::Finished;
  if (!CarriesNozzle(code)) return DispenserState::Unknown;
  switch (code & kStateBaseMask) {
    case kStateFilling:
      return DispenserState::Filling;
    case kStateStopped:
      return DispenserState::Stopped;
    case kStateIdle:
      return DispenserState::Idle;
    default:
      return DispenserState::Authorized;
  }
}

Nozzle NozzleOf(std::uint16_t code) {
  return CarriesNozzle(code) ? static_cast<Nozzle>(code & kStateNozzleMask) : 0;
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
