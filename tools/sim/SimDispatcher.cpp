#include "SimDispatcher.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace quorlan::sim {

SimDispatcher::Channel& SimDispatcher::Slot(std::int32_t channel) {
  return channels_[channel >= 1 && channel <= kMaxChannels ? std::size_t(channel) : 0];
}

void SimDispatcher::Attach(int channel, std::shared_ptr<Line> line) {
  if (channel < 1 || channel > kMaxChannels) {
    throw std::out_of_range("channels are 1 to 32");
  }
  std::lock_guard lock(mutex_);
  Slot(channel).line = std::move(line);
}

std::shared_ptr<Line> SimDispatcher::LineOn(int channel) const {
  std::lock_guard lock(mutex_);
  if (channel < 1 || channel > kMaxChannels) return nullptr;
  return channels_[std::size_t(channel)].line;
}

void SimDispatcher::SetTrace(TraceHook hook) {
  std::lock_guard lock(mutex_);
  trace_ = std::move(hook);
}

void SimDispatcher::SetPacing(std::chrono::nanoseconds byteTime) {
  std::lock_guard lock(mutex_);
  byteTime_ = byteTime;
}

std::vector<ConfigureCall> SimDispatcher::Configures() const {
  std::lock_guard lock(mutex_);
  return configures_;
}

std::uint32_t SimDispatcher::GetError(std::int32_t channel) {
  std::lock_guard lock(mutex_);
  return Slot(channel).error;
}

void SimDispatcher::SetError(std::int32_t channel, std::uint32_t code) {
  std::lock_guard lock(mutex_);
  Slot(channel).error = code;
}

void SimDispatcher::SetState(std::int32_t channel, std::int32_t state) {
  std::lock_guard lock(mutex_);
  Slot(channel).state = static_cast<std::uint8_t>(state);
}

std::uint8_t SimDispatcher::GetState(std::int32_t channel) {
  std::lock_guard lock(mutex_);
  return Slot(channel).state;
}

std::uint32_t SimDispatcher::Exchange(std::int32_t channel, const std::uint8_t* request,
                                      std::int32_t requestLength, std::uint8_t* reply,
                                      std::int32_t expectedLength, std::int32_t /*reserved*/) {
  std::shared_ptr<Line> line;
  ReplyVerifier verifier;
  TraceHook trace;
  std::chrono::nanoseconds byteTime;
  {
    // The line and the verifier run unlocked: the verifier calls back in.
    std::lock_guard lock(mutex_);
    line = Slot(channel).line;
    verifier = Slot(channel).verifier;
    trace = trace_;
    byteTime = byteTime_;
  }
  const std::span<const std::uint8_t> sent(request, std::size_t(std::max(requestLength, 0)));
  if (trace) trace(TraceDirection::Request, channel, sent);
  Response response = line ? line->Answer(sent) : Response{};
  // Like a line reading up to the expected count into the host's buffer.
  const auto wanted = std::size_t(std::clamp(expectedLength, 0, kReplyBufferSize));
  const auto received = std::min(response.bytes.size(), wanted);
  if (byteTime.count() > 0) std::this_thread::sleep_for(byteTime * (sent.size() + received));

  // In-process a late reply is always past the timeout: it counts as none.
  if (response.delivery != Response::Delivery::Now || received == 0) {
    if (trace) trace(TraceDirection::NoReply, channel, {});
    SetState(channel, kLinkBad);
    SetError(channel, kErrorNoReply);
    return kErrorNoReply;
  }
  std::copy_n(response.bytes.begin(), received, reply);
  if (trace) trace(TraceDirection::Reply, channel, std::span(reply, received));
  if (verifier) {
    verifier(channel, reply, kReplyBufferSize - 1, std::int32_t(received), expectedLength);
  } else {
    SetState(channel, kLinkGood);
    SetError(channel, 0);
  }
  return GetError(channel);
}

void SimDispatcher::Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) {
  std::lock_guard lock(mutex_);
  configures_.push_back({channel, lineSetting, baud});
}

void SimDispatcher::SetVerifier(std::int32_t channel, ReplyVerifier verifier) {
  std::lock_guard lock(mutex_);
  Slot(channel).verifier = verifier;
}

void SimDispatcher::SetSetupHandler(std::int32_t channel, SetupHandler handler) {
  std::lock_guard lock(mutex_);
  Slot(channel).setup = handler;
}

}  // namespace quorlan::sim
