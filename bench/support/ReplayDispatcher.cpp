#include "support/ReplayDispatcher.h"

#include <algorithm>

namespace quorlan::bench {

void ReplayDispatcher::StartRecording() {
  conversation_.clear();
  replaying_ = false;
}

void ReplayDispatcher::Replay() {
  replaying_ = true;
  diverged_ = false;
  next_ = 0;
}

Transport::Received ReplayDispatcher::Transfer(std::int32_t channel,
                                               std::span<const std::uint8_t> request,
                                               std::span<std::uint8_t> reply) {
  if (!replaying_) {
    const Received received = source_.Transfer(channel, request, reply);
    conversation_.push_back({{request.begin(), request.end()},
                             {reply.begin(), reply.begin() + std::ptrdiff_t(received.count)}});
    return received;
  }
  if (conversation_.empty()) {
    diverged_ = true;
    return Received::Nothing();
  }
  const RecordedExchange& recorded = conversation_[next_];
  next_ = (next_ + 1) % conversation_.size();
  if (!std::ranges::equal(request, recorded.request)) diverged_ = true;
  const auto received = std::min(recorded.reply.size(), reply.size());
  std::copy_n(recorded.reply.begin(), received, reply.begin());
  return Received::Bytes(received);
}

bool ReplayDispatcher::SetUpLine(std::int32_t channel, std::int32_t lineSetting,
                                 std::int32_t baud) {
  if (!replaying_) source_.Configure(channel, lineSetting, baud);
  return true;
}

}  // namespace quorlan::bench
