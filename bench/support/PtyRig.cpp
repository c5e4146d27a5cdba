#include "support/PtyRig.h"

#include <stdexcept>
#include <thread>

namespace quorlan::bench {

double IdealLineSeconds(double bytes) {
  return bytes * std::chrono::duration<double>(sim::kByteTime9600).count();
}

PtyRig::PtyRig(int channels, int dispensers)
    : logger_(SystemLogPlatform()), driver_(port_, 0, logger_) {
  logger_.SetFileName("");
  for (int c = 1; c <= channels; ++c) {
    auto served = std::make_unique<ServedLine>();
    served->line = std::make_shared<sim::Line>(
        sim::LineOptions{.dispensers = dispensers, .clock = {}, .startWithoutPrices = false});
    served->server =
        std::make_unique<sim::PtyServer>(served->line, sim::PtyOptions{.pacing = true});
    served->server->SetTrace([counts = served.get()](sim::TraceDirection direction, int,
                                                     std::span<const std::uint8_t> bytes) {
      counts->bytes += bytes.size();
      if (direction == sim::TraceDirection::Request) ++counts->requests;
      if (direction != sim::TraceDirection::Request) ++counts->replies;
    });
    served->server->Start();
    port_.MapChannel(c, served->server->SlavePath());
    driver_.OpenChannel(static_cast<std::uint32_t>(c));
    if (!port_.IsOpen(c)) {
      throw std::runtime_error("channel " + std::to_string(c) + ": " + port_.LineProblem(c));
    }
    lines_.push_back(std::move(served));
  }
}

PtyRig::~PtyRig() {
  for (auto& served : lines_) served->server->Stop();
}

const std::string& PtyRig::SlavePath(int channel) const {
  return lines_.at(std::size_t(channel - 1))->server->SlavePath();
}

std::uint64_t PtyRig::LineBytes(int channel) {
  ServedLine& served = *lines_.at(std::size_t(channel - 1));
  // The client may see the last byte a moment before the server counts it.
  for (int wait = 0; wait < 1000 && served.replies < served.requests; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return served.bytes;
}

}  // namespace quorlan::bench
