#pragma once
// The transport over real serial lines (and pseudo-terminals): channel n is
// the device path the user maps to it. The transport base keeps each
// channel's link state, error and callbacks; this class keeps its device.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "quorlan/SerialLine.h"
#include "quorlan/Transport.h"

namespace quorlan::serial {

class SerialDispatcher : public Transport {
 public:
  explicit SerialDispatcher(LineTimeouts timeouts = {});
  ~SerialDispatcher() override;

  // Channel 1..32 gets the device; throws std::invalid_argument otherwise.
  // Map channels before the first exchange.
  void MapChannel(std::int32_t channel, std::string devicePath);
  bool IsMapped(std::int32_t channel) const;
  // The mapped line's adapter hears its own requests (SerialLine::SetEcho);
  // throws std::invalid_argument for a channel without a device.
  void SetEcho(std::int32_t channel, bool on);
  bool IsOpen(std::int32_t channel) const;
  // Why the channel's line last failed; empty after a good open.
  std::string LineProblem(std::int32_t channel) const;

  // A line lost earlier (device unplugged, server restarted) is opened again
  // with the last configuration.
  Received Transfer(std::int32_t channel, std::span<const std::uint8_t> request,
                    std::span<std::uint8_t> reply) override;

 protected:
  bool SetUpLine(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) override;
  // A refused reply may be the tail of an earlier one: the line proves the
  // next reply its own.
  void ReplyRefused(std::int32_t channel) override;

 private:
  struct Device;
  Device* Find(std::int32_t channel) const;

  const LineTimeouts timeouts_;
  // Channels 0..32; channel 0 has no device.
  std::array<std::unique_ptr<Device>, kLastChannel + 1> devices_;
};

}  // namespace quorlan::serial
