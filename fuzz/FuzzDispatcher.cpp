#include "FuzzDispatcher.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "Check.h"
#include "support/FakeDispatcher.h"

namespace quorlan::fuzz {

namespace {

// Status bytes the driver maps; offered often so short runs reach them.
constexpr std::uint8_t kStatusBytes[] = {0x20, 0x24, 0x2F, 0x90, 0xA0, 0x95, 0x98, 0x99,
                                         0x9D, 0xDC, 0xD0, 0xD4, 0xF0, 0x00, 0xC0, 0x31};

enum class Arrival : std::uint8_t { Whole, OnePairShort, OnePair, RawBytes, None, LineFails };

Arrival ArrivalOf(std::uint8_t event) {
  switch (event % 8) {
    case 0:
    case 1:
    case 2:
      return Arrival::Whole;
    case 3:
      return Arrival::OnePairShort;
    case 4:
      return Arrival::OnePair;
    case 5:
      return Arrival::RawBytes;
    case 6:
      return Arrival::None;
    default:
      return Arrival::LineFails;
  }
}

}  // namespace

std::uint32_t FuzzDispatcher::GetError(std::int32_t channel) {
  return errors_[channel];
}

void FuzzDispatcher::SetError(std::int32_t channel, std::uint32_t code) {
  errors_[channel] = code;
}

void FuzzDispatcher::SetState(std::int32_t channel, std::int32_t state) {
  FUZZ_CHECK(state == kLinkGood || state == kLinkBad, "verifier set link state %d", state);
  states_[channel] = static_cast<std::uint8_t>(state);
}

std::uint8_t FuzzDispatcher::GetState(std::int32_t channel) {
  const auto it = states_.find(channel);
  const std::uint8_t state = it == states_.end() ? kLinkGood : it->second;
  reported_[channel] = state;
  return state;
}

void FuzzDispatcher::CheckRequest(const std::uint8_t* request, std::int32_t length,
                                  std::int32_t expectedLength) const {
  FUZZ_CHECK(length >= 4 && length <= 254 && length % 2 == 0, "request length %d", length);
  for (std::int32_t i = 0; i < length; i += 2) {
    FUZZ_CHECK(request[i] + request[i + 1] == 0xFF, "request pair %d not complemented", i / 2);
  }
  FUZZ_CHECK(expectedLength >= 2 && expectedLength % 2 == 0 && expectedLength <= 254,
             "expected reply length %d", expectedLength);
}

std::uint32_t FuzzDispatcher::Exchange(std::int32_t channel, const std::uint8_t* request,
                                       std::int32_t requestLength, std::uint8_t* reply,
                                       std::int32_t expectedLength, std::int32_t reserved) {
  CheckRequest(request, requestLength, expectedLength);
  FUZZ_CHECK(reserved == 0, "sixth exchange argument %d", reserved);
  return Deliver(channel, reply, expectedLength);
}

std::uint32_t FuzzDispatcher::Deliver(std::int32_t channel, std::uint8_t* reply,
                                      std::int32_t expectedLength) {
  const std::uint8_t event = input_.Byte();
  const Arrival arrival = ArrivalOf(event);
  if (arrival == Arrival::LineFails) throw std::runtime_error("line lost");
  if (arrival == Arrival::None) {
    // The line may also ask for its setup again, as after a reconnect.
    const auto setup = setupHandlers_.find(channel);
    if ((event & 0x08) && setup != setupHandlers_.end() && setup->second) setup->second(channel);
    errors_[channel] = input_.Raw<std::uint16_t>();
    states_[channel] = input_.Byte();
    return errors_[channel];
  }

  std::vector<std::uint8_t> line;
  if (arrival == Arrival::RawBytes) {
    line = input_.Bytes(input_.Byte());
  } else {
    const std::int32_t length = arrival == Arrival::Whole          ? expectedLength
                                : arrival == Arrival::OnePairShort ? expectedLength - 2
                                                                   : 2;
    auto info = input_.Bytes(static_cast<std::size_t>(std::max(length, 0) / 2));
    info.resize(static_cast<std::size_t>(std::max(length, 0) / 2));
    if ((event & 0x08) && info.size() == 9) info[8] = kStatusBytes[input_.Byte() % 16];
    line = quorlan::testing::Pairs(info);
  }
  const auto copied = std::min<std::size_t>(line.size(), kReplyBufferSize);
  std::copy_n(line.begin(), copied, reply);

  // A dispatcher may report counts and buffer sizes that do not match.
  std::int32_t received = static_cast<std::int32_t>(copied);
  if ((event & 0x30) == 0x10) received = input_.Byte();
  if ((event & 0x30) == 0x30) received = input_.Raw<std::int32_t>();
  const std::int32_t highIndex =
      (event & 0x40) ? input_.Byte() % kReplyBufferSize : kReplyBufferSize - 1;
  const auto verifier = verifiers_.find(channel);
  if (verifier != verifiers_.end() && verifier->second) {
    verifier->second(channel, reply, highIndex, received, expectedLength);
  }
  if (event & 0x80) {
    errors_[channel] = input_.Raw<std::uint16_t>();
    states_[channel] = input_.Byte();
  }
  return errors_[channel];
}

void FuzzDispatcher::Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) {
  FUZZ_CHECK(lineSetting == 3 && baud == 9600, "channel %d configured %d, %d", channel, lineSetting,
             baud);
}

void FuzzDispatcher::SetVerifier(std::int32_t channel, ReplyVerifier verifier) {
  verifiers_[channel] = verifier;
}

void FuzzDispatcher::SetSetupHandler(std::int32_t channel, SetupHandler handler) {
  setupHandlers_[channel] = handler;
}

}  // namespace quorlan::fuzz
