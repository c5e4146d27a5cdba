#include "commands/NozzleStates.h"

#include <string>

#include "commands/Messages.h"
#include "commands/PriceDownload.h"
#include "link/Frame.h"

namespace quorlan {

namespace {

constexpr std::uint8_t kSubstateUnknown = 1;

bool UsesSecondAddress(DriverState& s, std::uint8_t c, std::uint8_t d) {
  return s.nozzleMode[c][d] >= 2;
}

}  // namespace

std::uint8_t ReadNozzleSubstate(DriverState& s, std::uint8_t c, std::uint8_t d) {
  if (!UsesSecondAddress(s, c, d)) return kSubstateUnknown;
  ReplyBuffer reply{};
  if (s.link.Transact(c, d + kSecondAddressOffset, 2, 0, reply, 0xA1) != 0) {
    throw ESerialIO(messages::kStatusRequest);
  }
  if (s.link.LinkState(c) != kLinkGood || s.link.ReceivedCount(c) < 2) return kSubstateUnknown;
  return reply[0] & 7;
}

void ReleaseNozzle(DriverState& s, std::uint8_t c, std::uint8_t d) {
  if (!UsesSecondAddress(s, c, d)) return;
  // A release that fails must not cost the host its poll result.
  try {
    ReplyBuffer reply{};
    if (s.link.Transact(c, d + kSecondAddressOffset, 2, 0, reply, 0xA2) != 0) {
      throw ESerialIO(messages::kRelease);
    }
  } catch (const std::exception& error) {
    s.Trace(std::string(" ") + error.what());
  } catch (...) {
    s.Trace(" ");
  }
}

std::uint8_t MapState(DriverState& s, std::uint8_t c, std::uint8_t d, std::uint8_t status) {
  std::uint8_t code;
  switch (status) {
    case 0x20:
    case 0x24:
      s.startGuard[c][d] = 0;
      code = kStateFinished;
      break;
    case 0x2F:
      SendPrices(s, c, d);
      s.startGuard[c][d] = 0;
      code = kStateFinished;
      break;
    case 0x90:
      code = 0xE8 + ReadNozzleSubstate(s, c, d);
      break;
    case 0xA0: {
      const std::uint8_t substate = ReadNozzleSubstate(s, c, d);
      // Right after an authorization the dispenser may still show idle; report
      // it as authorized for the first polls.
      if (s.startGuard[c][d] > 0) {
        --s.startGuard[c][d];
        code = 0xE8 + substate;
      } else {
        code = 0xE0 + substate;
      }
      break;
    }
    case 0x95:
    case 0x98:
    case 0x99:
    case 0x9D:
    case 0xDC:
      code = 0xD0 + ReadNozzleSubstate(s, c, d);
      break;
    case 0xD0:
    case 0xD4:
    case 0xF0:
      code = 0xD8 + ReadNozzleSubstate(s, c, d);
      break;
    default:
      code = status;
  }
  if (s.nozzleState[c][d] != kStateFinished && code == kStateFinished) ReleaseNozzle(s, c, d);
  s.nozzleState[c][d] = code;
  return code;
}

void PrepareNozzleStatus(DriverState& s, std::uint8_t c, std::uint8_t d, std::uint8_t mode) {
  CheckRange<1, kDispensers>(d);
  CheckRange<0, kChannels>(c);
  if (s.priceDirty[c][d]) SendPrices(s, c, d);
  // Mode 1 is kept as 2: both mean "use the second address".
  s.nozzleMode[c][d] = mode == 1 ? 2 : mode;
}

void FillNozzleStatusRecord(std::uint16_t code, NozzleStatusRecord& record) {
  record.bytes[1] = 0;
  record.bytes[0] = static_cast<std::uint8_t>(code);
  record.bytes[14] = static_cast<std::uint8_t>(code & 7);
  record.bytes[15] = 0;
}

}  // namespace quorlan
