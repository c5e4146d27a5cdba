#include "commands/NozzleStates.h"

#include <string>

#include "commands/Messages.h"
#include "commands/PriceDownload.h"
#include "link/Frame.h"
#include "link/Protocol.h"

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
  if (s.link.Transact(c, d + kSecondAddressOffset, requests::kSubStatus.ReplyLength(), 0, reply,
                      requests::kSubStatus.command) != 0) {
    throw ESerialIO(messages::kStatusRequest);
  }
  if (s.link.LinkState(c) != kLinkGood ||
      s.link.ReceivedCount(c) < requests::kSubStatus.ReplyLength()) {
    return kSubstateUnknown;
  }
  return reply[0] & kSubStatusNozzleMask;
}

void ReleaseNozzle(DriverState& s, std::uint8_t c, std::uint8_t d) {
  if (!UsesSecondAddress(s, c, d)) return;
  // A release that fails must not cost the host its poll result.
  try {
    ReplyBuffer reply{};
    if (s.link.Transact(c, d + kSecondAddressOffset, requests::kRelease.ReplyLength(), 0, reply,
                        requests::kRelease.command) != 0) {
      throw ESerialIO(messages::kRelease);
    }
  } catch (const std::exception& error) {
    s.Trace(std::string(" ") + error.what());
  } catch (...) {
    s.Trace(" ");
  }
}

std::uint8_t MapState(DriverState& s, std::uint8_t c, std::uint8_t d, std::uint8_t status) {
  using status::IsOneOf;
  std::uint8_t code;
  if (IsOneOf(status::kFinishedBytes, status)) {
    s.startGuard[c][d] = 0;
    code = kStateFinished;
  } else if (status == status::kPoweredUp) {
    SendPrices(s, c, d);
    s.startGuard[c][d] = 0;
    code = kStateFinished;
  } else if (status == status::kAuthorized) {
    code = kStateAuthorized + ReadNozzleSubstate(s, c, d);
  } else if (status == status::kIdle) {
    const std::uint8_t substate = ReadNozzleSubstate(s, c, d);
    // Right after an authorization the dispenser may still show idle; report
    // it as authorized for the first polls.
    if (s.startGuard[c][d] > 0) {
      --s.startGuard[c][d];
      code = kStateAuthorized + substate;
    } else {
      code = kStateIdle + substate;
    }
  } else if (IsOneOf(status::kFillingBytes, status)) {
    code = kStateFilling + ReadNozzleSubstate(s, c, d);
  } else if (IsOneOf(status::kStoppedBytes, status)) {
    code = kStateStopped + ReadNozzleSubstate(s, c, d);
  } else {
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
  record.bytes[14] = static_cast<std::uint8_t>(code & kStateNozzleMask);
  record.bytes[15] = 0;
}

}  // namespace quorlan
