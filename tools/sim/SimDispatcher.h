#pragma once
// The in-process transport: a TPortDispatcher whose channels are simulated
// lines. Exchange hands the request to the channel's Line and gives the
// reply to the registered verifier, like a dispatcher on a real line.
//
// Error codes: the verifier's verdict (0, kErrorBadLength, kErrorBadComplement)
// when bytes arrived; kErrorNoReply when none did, also for a late reply (in-process it
// is always past the timeout) and for a channel without a line.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Line.h"
#include "Trace.h"
#include "quorlan/PortDispatcher.h"

namespace quorlan::sim {

inline constexpr int kMaxChannels = 32;

struct ConfigureCall {
  std::int32_t channel = 0, lineSetting = 0, baud = 0;
  friend bool operator==(const ConfigureCall&, const ConfigureCall&) = default;
};

class SimDispatcher : public TPortDispatcher {
 public:
  SimDispatcher() = default;

  // Channel 1..32; std::out_of_range otherwise. A null line detaches.
  void Attach(int channel, std::shared_ptr<Line> line);
  std::shared_ptr<Line> LineOn(int channel) const;

  void SetTrace(TraceHook hook);
  // Sleeps 10 bit times a byte for request and reply when set (0: no pacing).
  void SetPacing(std::chrono::nanoseconds byteTime);
  std::vector<ConfigureCall> Configures() const;

  std::uint32_t GetError(std::int32_t channel) override;
  void SetError(std::int32_t channel, std::uint32_t code) override;
  void SetState(std::int32_t channel, std::int32_t state) override;
  std::uint8_t GetState(std::int32_t channel) override;
  std::uint32_t Exchange(std::int32_t channel, const std::uint8_t* request,
                         std::int32_t requestLength, std::uint8_t* reply,
                         std::int32_t expectedLength, std::int32_t reserved) override;
  void Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) override;
  void SetVerifier(std::int32_t channel, ReplyVerifier verifier) override;
  void SetSetupHandler(std::int32_t channel, SetupHandler handler) override;

 private:
  struct Channel {
    std::shared_ptr<Line> line;
    ReplyVerifier verifier;
    SetupHandler setup;
    std::uint32_t error = 0;
    std::uint8_t state = kLinkGood;
  };
  // Channels outside 1..32 share one slot that never has a line.
  Channel& Slot(std::int32_t channel);

  mutable std::mutex mutex_;
  std::array<Channel, kMaxChannels + 1> channels_;
  std::vector<ConfigureCall> configures_;
  TraceHook trace_;
  std::chrono::nanoseconds byteTime_{0};
};

}  // namespace quorlan::sim
