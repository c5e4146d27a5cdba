#include "quorlan/Transport.h"

#include <algorithm>

namespace quorlan {

struct Transport::Channel {
  // Written by the verifier from inside Exchange, read by any thread.
  std::atomic<std::uint8_t> state{kLinkGood};
  std::atomic<std::uint32_t> error{0};

  mutable std::mutex callbackMutex;
  ReplyVerifier verifier;
  SetupHandler setupHandler;

  // One exchange at a time on the channel's line.
  std::mutex exchangeMutex;

  std::uint32_t Record(std::uint8_t newState, std::uint32_t code) {
    state = newState;
    error = code;
    return code;
  }
};

Transport::Transport() {
  for (auto& slot : channels_) slot = std::make_unique<Channel>();
}

Transport::~Transport() = default;

Transport::Channel* Transport::Find(std::int32_t channel) const {
  if (channel < 0 || channel > kLastChannel) return nullptr;
  return channels_[static_cast<std::size_t>(channel)].get();
}

std::uint32_t Transport::GetError(std::int32_t channel) {
  const Channel* slot = Find(channel);
  return slot ? slot->error.load() : kErrorLineFailure;
}

void Transport::SetError(std::int32_t channel, std::uint32_t code) {
  if (Channel* slot = Find(channel)) slot->error = code;
}

void Transport::SetState(std::int32_t channel, std::int32_t state) {
  if (Channel* slot = Find(channel)) slot->state = static_cast<std::uint8_t>(state);
}

std::uint8_t Transport::GetState(std::int32_t channel) {
  const Channel* slot = Find(channel);
  return slot ? slot->state.load() : kLinkBad;
}

void Transport::SetVerifier(std::int32_t channel, ReplyVerifier verifier) {
  if (Channel* slot = Find(channel)) {
    std::lock_guard lock(slot->callbackMutex);
    slot->verifier = verifier;
  }
}

// Kept for the host's sake: a transport sets a lost line up again itself
// with the last configuration, so it never needs to ask for a setup.
void Transport::SetSetupHandler(std::int32_t channel, SetupHandler handler) {
  if (Channel* slot = Find(channel)) {
    std::lock_guard lock(slot->callbackMutex);
    slot->setupHandler = handler;
  }
}

void Transport::Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) {
  Channel* slot = Find(channel);
  if (!slot) return;
  std::lock_guard lock(slot->exchangeMutex);
  if (!SetUpLine(channel, lineSetting, baud)) slot->Record(kLinkBad, kErrorLineFailure);
}

std::uint32_t Transport::Exchange(std::int32_t channel, const std::uint8_t* request,
                                  std::int32_t requestLength, std::uint8_t* reply,
                                  std::int32_t expectedLength, std::int32_t /*reserved*/) {
  Channel* slot = Find(channel);
  if (!slot) return kErrorLineFailure;
  std::lock_guard lock(slot->exchangeMutex);
  if (requestLength < 0 || (requestLength > 0 && request == nullptr) || reply == nullptr) {
    return slot->Record(kLinkBad, kErrorLineFailure);
  }
  const auto wanted = static_cast<std::size_t>(std::clamp(expectedLength, 0, kReplyBufferSize));
  const Received received =
      Transfer(channel, {request, static_cast<std::size_t>(requestLength)}, {reply, wanted});
  if (received.lineFailed) return slot->Record(kLinkBad, kErrorLineFailure);
  if (received.count == 0) return slot->Record(kLinkBad, kErrorNoReply);
  if (received.extra) {
    ReplyRefused(channel);
    return slot->Record(kLinkBad, kErrorBadLength);
  }
  const auto count = static_cast<std::int32_t>(std::min(received.count, wanted));
  return Verify(*slot, channel, reply, count, expectedLength);
}

std::uint32_t Transport::Verify(Channel& slot, std::int32_t channel, std::uint8_t* reply,
                                std::int32_t received, std::int32_t expected) {
  ReplyVerifier verifier;
  {
    std::lock_guard lock(slot.callbackMutex);
    verifier = slot.verifier;
  }
  if (!verifier) {
    slot.Record(received == expected ? kLinkGood : kLinkBad,
                received == expected ? 0 : kErrorBadLength);
  } else {
    try {
      verifier(channel, reply, kReplyBufferSize - 1, received, expected);
    } catch (...) {
      // The caller sees the exception; the channel must not keep a stale verdict.
      ReplyRefused(channel);
      slot.Record(kLinkBad, kErrorVerifierException);
      throw;
    }
  }
  const std::uint32_t code = slot.error;
  if (code != 0) ReplyRefused(channel);
  return code;
}

}  // namespace quorlan
