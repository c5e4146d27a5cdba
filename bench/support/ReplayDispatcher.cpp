#include "support/ReplayDispatcher.h"

#include <algorithm>

namespace quorlan::bench {

ReplayDispatcher::ReplayDispatcher(sim::SimDispatcher& source) : source_(source) {
  source_.SetTrace([this](sim::TraceDirection direction, int, std::span<const std::uint8_t> bytes) {
    if (direction == sim::TraceDirection::Request) {
      conversation_.push_back({{bytes.begin(), bytes.end()}, {}});
    } else if (direction == sim::TraceDirection::Reply && !conversation_.empty()) {
      conversation_.back().reply.assign(bytes.begin(), bytes.end());
    }
  });
}

void ReplayDispatcher::StartRecording() {
  conversation_.clear();
  replaying_ = false;
}

void ReplayDispatcher::Replay() {
  replaying_ = true;
  diverged_ = false;
  next_ = 0;
}

ReplayDispatcher::Channel& ReplayDispatcher::Slot(std::int32_t channel) {
  return channels_[channel >= 1 && channel <= sim::kMaxChannels ? std::size_t(channel) : 0];
}

std::uint32_t ReplayDispatcher::GetError(std::int32_t channel) {
  return replaying_ ? Slot(channel).error : source_.GetError(channel);
}

void ReplayDispatcher::SetError(std::int32_t channel, std::uint32_t code) {
  if (!replaying_) return source_.SetError(channel, code);
  Slot(channel).error = code;
}

void ReplayDispatcher::SetState(std::int32_t channel, std::int32_t state) {
  if (!replaying_) return source_.SetState(channel, state);
  Slot(channel).state = static_cast<std::uint8_t>(state);
}

std::uint8_t ReplayDispatcher::GetState(std::int32_t channel) {
  return replaying_ ? Slot(channel).state : source_.GetState(channel);
}

std::uint32_t ReplayDispatcher::Exchange(std::int32_t channel, const std::uint8_t* request,
                                         std::int32_t requestLength, std::uint8_t* reply,
                                         std::int32_t expectedLength, std::int32_t reserved) {
  if (!replaying_) {
    return source_.Exchange(channel, request, requestLength, reply, expectedLength, reserved);
  }
  if (conversation_.empty()) {
    diverged_ = true;
    return kErrorNoReply;
  }
  const RecordedExchange& recorded = conversation_[next_];
  next_ = (next_ + 1) % conversation_.size();
  const std::size_t sent = std::size_t(std::max(requestLength, 0));
  if (!std::equal(request, request + sent, recorded.request.begin(), recorded.request.end())) {
    diverged_ = true;
  }
  Channel& slot = Slot(channel);
  const auto wanted = std::size_t(std::clamp(expectedLength, 0, kReplyBufferSize));
  const auto received = std::min(recorded.reply.size(), wanted);
  if (received == 0) {
    slot.state = kLinkBad;
    return slot.error = kErrorNoReply;
  }
  std::copy_n(recorded.reply.begin(), received, reply);
  if (!slot.verifier) {
    slot.state = kLinkGood;
    return slot.error = 0;
  }
  slot.verifier(channel, reply, kReplyBufferSize - 1, std::int32_t(received), expectedLength);
  return slot.error;
}

void ReplayDispatcher::Configure(std::int32_t channel, std::int32_t lineSetting,
                                 std::int32_t baud) {
  if (!replaying_) source_.Configure(channel, lineSetting, baud);
}

void ReplayDispatcher::SetVerifier(std::int32_t channel, ReplyVerifier verifier) {
  Slot(channel).verifier = verifier;
  if (!replaying_) source_.SetVerifier(channel, verifier);
}

void ReplayDispatcher::SetSetupHandler(std::int32_t channel, SetupHandler handler) {
  if (!replaying_) source_.SetSetupHandler(channel, handler);
}

}  // namespace quorlan::bench
