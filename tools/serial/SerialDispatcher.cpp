#include "serial/SerialDispatcher.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>

namespace quorlan::serial {

struct SerialDispatcher::Channel {
  // Written by the verifier from inside Exchange, read by any thread.
  std::atomic<std::uint8_t> state{kLinkGood};
  std::atomic<std::uint32_t> error{0};

  mutable std::mutex callbackMutex;
  ReplyVerifier verifier;
  SetupHandler setupHandler;

  // One exchange or setup at a time on the line.
  mutable std::mutex lineMutex;
  std::unique_ptr<SerialLine> line;
  std::int32_t baud = kDefaultBaud;
  std::string problem;

  std::uint32_t Record(std::uint8_t newState, std::uint32_t code) {
    state = newState;
    error = code;
    return code;
  }
  std::uint32_t LineFailed(std::string why) {
    problem = std::move(why);
    return Record(kLinkBad, kErrorLineFailure);
  }
};

SerialDispatcher::SerialDispatcher(LineTimeouts timeouts) : timeouts_(timeouts) {
  for (auto& slot : channels_) slot = std::make_unique<Channel>();
}

SerialDispatcher::~SerialDispatcher() = default;

SerialDispatcher::Channel* SerialDispatcher::Find(std::int32_t channel) const {
  if (channel < 0 || channel > kMaxChannel) return nullptr;
  return channels_[static_cast<std::size_t>(channel)].get();
}

void SerialDispatcher::MapChannel(std::int32_t channel, std::string devicePath) {
  if (channel < 1 || channel > kMaxChannel) {
    throw std::invalid_argument("channel " + std::to_string(channel) + " is outside 1..32");
  }
  Channel& slot = *Find(channel);
  std::lock_guard lock(slot.lineMutex);
  slot.line = std::make_unique<SerialLine>(std::move(devicePath));
  slot.problem.clear();
}

bool SerialDispatcher::IsMapped(std::int32_t channel) const {
  const Channel* slot = Find(channel);
  if (!slot) return false;
  std::lock_guard lock(slot->lineMutex);
  return slot->line != nullptr;
}

bool SerialDispatcher::IsOpen(std::int32_t channel) const {
  const Channel* slot = Find(channel);
  if (!slot) return false;
  std::lock_guard lock(slot->lineMutex);
  return slot->line && slot->line->IsOpen();
}

std::string SerialDispatcher::LineProblem(std::int32_t channel) const {
  const Channel* slot = Find(channel);
  if (!slot) return "channel " + std::to_string(channel) + " is outside 0..32";
  std::lock_guard lock(slot->lineMutex);
  return slot->problem;
}

std::uint32_t SerialDispatcher::GetError(std::int32_t channel) {
  const Channel* slot = Find(channel);
  return slot ? slot->error.load() : kErrorLineFailure;
}

void SerialDispatcher::SetError(std::int32_t channel, std::uint32_t code) {
  if (Channel* slot = Find(channel)) slot->error = code;
}

void SerialDispatcher::SetState(std::int32_t channel, std::int32_t state) {
  if (Channel* slot = Find(channel)) slot->state = static_cast<std::uint8_t>(state);
}

std::uint8_t SerialDispatcher::GetState(std::int32_t channel) {
  const Channel* slot = Find(channel);
  return slot ? slot->state.load() : kLinkBad;
}

void SerialDispatcher::SetVerifier(std::int32_t channel, ReplyVerifier verifier) {
  if (Channel* slot = Find(channel)) {
    std::lock_guard lock(slot->callbackMutex);
    slot->verifier = verifier;
  }
}

// Kept for the host's sake; the dispatcher reopens a failed line itself with
// the last configuration, so it never needs to ask for a setup.
void SerialDispatcher::SetSetupHandler(std::int32_t channel, SetupHandler handler) {
  if (Channel* slot = Find(channel)) {
    std::lock_guard lock(slot->callbackMutex);
    slot->setupHandler = handler;
  }
}

void SerialDispatcher::Configure(std::int32_t channel, std::int32_t lineSetting,
                                 std::int32_t baud) {
  Channel* slot = Find(channel);
  if (!slot) return;
  std::lock_guard lock(slot->lineMutex);
  if (!slot->line) {
    slot->LineFailed("no device is mapped to channel " + std::to_string(channel));
    return;
  }
  if (lineSetting != kLineSetting8N1 || baud <= 0) {
    slot->line->Close();
    slot->LineFailed("line setting " + std::to_string(lineSetting) + " at " + std::to_string(baud) +
                     " baud is not supported");
    return;
  }
  slot->baud = baud;
  if (slot->line->Open(static_cast<unsigned>(baud))) {
    slot->problem.clear();
  } else {
    slot->LineFailed(slot->line->Path() + ": " + slot->line->Problem());
  }
}

std::uint32_t SerialDispatcher::Exchange(std::int32_t channel, const std::uint8_t* request,
                                         std::int32_t requestLength, std::uint8_t* reply,
                                         std::int32_t expectedLength, std::int32_t /*reserved*/) {
  Channel* slot = Find(channel);
  if (!slot) return kErrorLineFailure;
  std::lock_guard lock(slot->lineMutex);
  if (!slot->line) {
    return slot->LineFailed("no device is mapped to channel " + std::to_string(channel));
  }
  if (requestLength < 0 || (requestLength > 0 && request == nullptr) || reply == nullptr) {
    return slot->LineFailed("the request or the reply buffer is missing");
  }
  // A line lost earlier (device unplugged, server restarted) is opened again.
  if (!slot->line->IsOpen() && !slot->line->Open(static_cast<unsigned>(slot->baud))) {
    return slot->LineFailed(slot->line->Path() + ": " + slot->line->Problem());
  }
  const auto wanted = static_cast<std::size_t>(std::clamp(expectedLength, 0, kReplyBufferSize));
  const auto received = slot->line->Transfer({request, static_cast<std::size_t>(requestLength)},
                                             {reply, wanted}, timeouts_);
  if (!received) return slot->LineFailed(slot->line->Path() + ": " + slot->line->Problem());
  if (*received == 0) return slot->Record(kLinkBad, kErrorNoReply);
  return Verify(*slot, channel, reply, static_cast<std::int32_t>(*received), expectedLength);
}

std::uint32_t SerialDispatcher::Verify(Channel& slot, std::int32_t channel,
                                       const std::uint8_t* reply, std::int32_t received,
                                       std::int32_t expected) {
  ReplyVerifier verifier;
  {
    std::lock_guard lock(slot.callbackMutex);
    verifier = slot.verifier;
  }
  if (!verifier) {
    return received == expected ? slot.Record(kLinkGood, 0)
                                : slot.Record(kLinkBad, kErrorBadLength);
  }
  try {
    verifier(channel, reply, kReplyBufferSize - 1, received, expected);
  } catch (...) {
    // The caller sees the exception; the channel must not keep a stale verdict.
    slot.Record(kLinkBad, kErrorVerifierException);
    throw;
  }
  return slot.error;
}

}  // namespace quorlan::serial
