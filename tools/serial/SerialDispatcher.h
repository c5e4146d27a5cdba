#pragma once
// The host's port dispatcher over real serial lines (and pseudo-terminals):
// channel n is the device path the user maps to it. Every channel keeps its
// own line, link state, error and callbacks; exchanges on different channels
// run independently on different threads, one at a time per channel.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "quorlan/PortDispatcher.h"
#include "serial/SerialLine.h"

namespace quorlan::serial {

// Exchange results of the dispatcher's own, beside the verifier's verdicts:
// kErrorNoReply (not one byte came back), kErrorLineFailure (no device,
// open, read or write failed), kErrorVerifierException (the verifier threw).

// The only line setting this protocol uses: raw 8N1, no flow control.
inline constexpr std::int32_t kLineSetting8N1 = 3;
inline constexpr std::int32_t kDefaultBaud = 9600;
inline constexpr std::int32_t kMaxChannel = 32;

class SerialDispatcher : public TPortDispatcher {
 public:
  explicit SerialDispatcher(LineTimeouts timeouts = {});
  ~SerialDispatcher() override;

  // Channel 1..32 gets the device; throws std::invalid_argument otherwise.
  // Map channels before the first exchange.
  void MapChannel(std::int32_t channel, std::string devicePath);
  bool IsMapped(std::int32_t channel) const;
  bool IsOpen(std::int32_t channel) const;
  // Why the channel's line last failed; empty after a good open.
  std::string LineProblem(std::int32_t channel) const;

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
  struct Channel;
  Channel* Find(std::int32_t channel) const;
  std::uint32_t Verify(Channel& slot, std::int32_t channel, const std::uint8_t* reply,
                       std::int32_t received, std::int32_t expected);

  const LineTimeouts timeouts_;
  // Channels 0..32; channel 0 has no line but keeps its state like the rest.
  std::array<std::unique_ptr<Channel>, kMaxChannel + 1> channels_;
};

}  // namespace quorlan::serial
