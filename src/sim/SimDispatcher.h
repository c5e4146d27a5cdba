#pragma once
// The in-process transport: channels are simulated lines. A transfer hands
// the request to the channel's Line and its reply back at once; the
// transport base checks the reply and keeps the channel's bookkeeping.
//
// A late reply counts as none (in-process it is always past the timeout), and
// so does silence on a channel without a line: kErrorNoReply.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Line.h"
#include "Trace.h"
#include "quorlan/Transport.h"

namespace quorlan::sim {

struct ConfigureCall {
  std::int32_t channel = 0, lineSetting = 0, baud = 0;
  friend bool operator==(const ConfigureCall&, const ConfigureCall&) = default;
};

class SimDispatcher : public Transport {
 public:
  SimDispatcher() = default;

  // Channel 1..32; std::out_of_range otherwise. A null line detaches.
  void Attach(int channel, std::shared_ptr<Line> line);
  std::shared_ptr<Line> LineOn(int channel) const;

  void SetTrace(TraceHook hook);
  // Sleeps 10 bit times a byte for request and reply when set (0: no pacing).
  void SetPacing(std::chrono::nanoseconds byteTime);
  std::vector<ConfigureCall> Configures() const;

  Received Transfer(std::int32_t channel, std::span<const std::uint8_t> request,
                    std::span<std::uint8_t> reply) override;

 protected:
  bool SetUpLine(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) override;

 private:
  mutable std::mutex mutex_;
  std::array<std::shared_ptr<Line>, kLastChannel + 1> lines_;
  std::vector<ConfigureCall> configures_;
  TraceHook trace_;
  std::chrono::nanoseconds byteTime_{0};
};

}  // namespace quorlan::sim
