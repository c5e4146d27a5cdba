#pragma once
// The host's port dispatcher as the driver sees it: the eight operations the
// driver uses, in the host's table positions 1, 2, 3, 4, 16, 17, 19 and 21.
// The host owns the lines; the driver only asks for exchanges.

#include <cstdint>

#include "quorlan/Errors.h"

namespace quorlan {

// Channels (lines) are 1..kLastChannel; the host has no more.
inline constexpr std::int32_t kLastChannel = 32;
// What this driver passes to Configure: line setting 3 is raw 8 data bits, no
// parity, 1 stop bit, no flow control; the line runs at 9600 baud.
inline constexpr std::int32_t kLineSetting8N1 = 3;
inline constexpr std::int32_t kLineBaud = 9600;

// Reply buffers handed to Exchange are this large; the verifier receives the
// highest valid index (kReplyBufferSize - 1).
inline constexpr int kReplyBufferSize = 255;

// A bound callback: a plain function plus the object it belongs to, the shape
// of an object-pascal method pointer.
struct ReplyVerifier {
  using Function = bool (*)(void* owner, std::int32_t channel, const std::uint8_t* reply,
                            std::int32_t highIndex, std::int32_t received, std::int32_t expected);
  Function function = nullptr;
  void* owner = nullptr;

  bool operator()(std::int32_t channel, const std::uint8_t* reply, std::int32_t highIndex,
                  std::int32_t received, std::int32_t expected) const {
    return function(owner, channel, reply, highIndex, received, expected);
  }
  explicit operator bool() const { return function != nullptr; }
};

struct SetupHandler {
  using Function = void (*)(void* owner, std::int32_t channel);
  Function function = nullptr;
  void* owner = nullptr;

  void operator()(std::int32_t channel) const { function(owner, channel); }
  explicit operator bool() const { return function != nullptr; }
};

class TPortDispatcher {
 public:
  virtual ~TPortDispatcher() = default;

  // 1: error code of the channel's last exchange; non-zero means failed.
  virtual std::uint32_t GetError(std::int32_t channel) = 0;
  // 2: records the verifier's verdict (0, kErrorBadComplement or kErrorBadLength).
  virtual void SetError(std::int32_t channel, std::uint32_t code) = 0;
  // 3: records the link state (1 good, 3 bad).
  virtual void SetState(std::int32_t channel, std::int32_t state) = 0;
  // 4: the link state after an exchange.
  virtual std::uint8_t GetState(std::int32_t channel) = 0;
  // 16: sends the request, collects at most kReplyBufferSize bytes of reply
  // into `reply`, calls the channel's verifier on it; 0 means success.
  virtual std::uint32_t Exchange(std::int32_t channel, const std::uint8_t* request,
                                 std::int32_t requestLength, std::uint8_t* reply,
                                 std::int32_t expectedLength, std::int32_t reserved) = 0;
  // 17: line setup, always (kLineSetting8N1, kLineBaud) from this driver.
  virtual void Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) = 0;
  // 19 and 21: bound callbacks kept per channel.
  virtual void SetVerifier(std::int32_t channel, ReplyVerifier verifier) = 0;
  virtual void SetSetupHandler(std::int32_t channel, SetupHandler handler) = 0;
};

// The link errors (quorlan/Errors.h) as the 32-bit codes that GetError and
// Exchange report. The verifier reports the first two.
inline constexpr std::uint32_t kErrorBadLength = Code(LinkError::BadLength);
inline constexpr std::uint32_t kErrorBadComplement = Code(LinkError::BadComplement);
inline constexpr std::uint32_t kErrorNoReply = Code(LinkError::NoReply);
inline constexpr std::uint32_t kErrorLineFailure = Code(LinkError::LineFailure);
inline constexpr std::uint32_t kErrorVerifierException = Code(LinkError::VerifierException);
inline constexpr std::uint32_t kErrorDriverFailure = Code(LinkError::DriverFailure);
// Link states.
inline constexpr std::uint8_t kLinkGood = 1;
inline constexpr std::uint8_t kLinkBad = 3;

}  // namespace quorlan
