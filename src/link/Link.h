#pragma once
// One request/reply exchange with a dispenser through the host's port
// dispatcher, the reply check bound to the driver, and channel setup.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/Range.h"
#include "quorlan/PortDispatcher.h"
#include "log/Logger.h"

namespace quorlan {

// Request data going out, reply coming back: reply info byte i at 2i.
using ReplyBuffer = std::array<std::uint8_t, kReplyBufferSize>;

class Link {
 public:
  Link(TPortDispatcher& port, Logger& logger);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Sends `command` with the first n bytes of `data` to `subAddress` and
  // leaves the reply in `data`. Returns the error code, 0 on success; never
  // raises for a failed exchange. An exchange that was not sent or did not
  // finish (an exception before the dispatcher returned) is never a success.
  std::uint32_t Transact(std::int64_t channel, int subAddress, std::uint8_t expectedLength, int n,
                         ReplyBuffer& data, std::uint8_t command);

  // Registers the setup handler and runs it at once.
  void SetupChannel(std::int64_t channel);

  // The reply check the port dispatcher calls for every reply.
  bool VerifyReply(std::int32_t channel, const std::uint8_t* reply, std::int32_t highIndex,
                   std::int32_t received, std::int32_t expected);

  // Link state per channel 1..32 (range-checked).
  std::uint8_t& LinkState(std::int64_t channel) { return linkState_[channel]; }
  // Bytes received in the channel's last reply that reached the verifier;
  // 0 when no reply was checked in the last exchange.
  std::int32_t ReceivedCount(std::int64_t channel) const { return receivedCount_[channel]; }

  Logger& Log() { return logger_; }
  ReplyVerifier Verifier();
  SetupHandler Setup();

 private:
  // How far an exchange got when an exception stopped it.
  enum class Stage { Building, Exchanging, Exchanged };
  std::uint32_t ErrorAfterException(std::int32_t line, Stage stage, std::string_view what);
  void SetupPort(std::int32_t channel);

  TPortDispatcher& port_;
  Logger& logger_;
  RangedArray<std::uint8_t, 1, 32> linkState_;
  RangedArray<std::int32_t, 0, 255> receivedCount_;
};

}  // namespace quorlan
