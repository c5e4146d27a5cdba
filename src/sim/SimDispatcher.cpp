#include "SimDispatcher.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace quorlan::sim {

void SimDispatcher::Attach(int channel, std::shared_ptr<Line> line) {
  if (channel < 1 || channel > kLastChannel) {
    throw std::out_of_range("channels are 1 to 32");
  }
  std::lock_guard lock(mutex_);
  lines_[std::size_t(channel)] = std::move(line);
}

std::shared_ptr<Line> SimDispatcher::LineOn(int channel) const {
  std::lock_guard lock(mutex_);
  if (channel < 1 || channel > kLastChannel) return nullptr;
  return lines_[std::size_t(channel)];
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

Transport::Received SimDispatcher::Transfer(std::int32_t channel,
                                            std::span<const std::uint8_t> request,
                                            std::span<std::uint8_t> reply) {
  std::shared_ptr<Line> line = LineOn(channel);
  TraceHook trace;
  std::chrono::nanoseconds byteTime;
  {
    std::lock_guard lock(mutex_);
    trace = trace_;
    byteTime = byteTime_;
  }
  if (trace) trace(TraceDirection::Request, channel, request);
  const Response response = line ? line->Answer(request) : Response{};
  // Like a line reading up to the expected count into the host's buffer.
  const auto received = std::min(response.bytes.size(), reply.size());
  if (byteTime.count() > 0) std::this_thread::sleep_for(byteTime * (request.size() + received));

  if (response.delivery != Response::Delivery::Now || received == 0) {
    if (trace) trace(TraceDirection::NoReply, channel, {});
    return Received::Nothing();
  }
  std::copy_n(response.bytes.begin(), received, reply.begin());
  if (trace) trace(TraceDirection::Reply, channel, reply.first(received));
  return Received::Bytes(received);
}

bool SimDispatcher::SetUpLine(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) {
  std::lock_guard lock(mutex_);
  configures_.push_back({channel, lineSetting, baud});
  return true;
}

}  // namespace quorlan::sim
