#pragma once
// A port dispatcher whose line is the fuzzer's input: each exchange reads how
// the reply arrives (whole, short, garbled, missing, or the line failing with
// an exception), the reply's bytes, the received count and highest index it
// reports, and any error code or link state it makes up afterwards. Like a
// host's dispatcher it may break the transport base's rules, so it keeps its
// own bookkeeping instead of building on quorlan::Transport.

#include <cstdint>
#include <map>

#include "FuzzInput.h"
#include "quorlan/PortDispatcher.h"

namespace quorlan::fuzz {

class FuzzDispatcher : public TPortDispatcher {
 public:
  explicit FuzzDispatcher(FuzzInput& input) : input_(input) {}

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

  // The link state GetState last reported per channel since the last Forget.
  const std::map<std::int32_t, std::uint8_t>& Reported() const { return reported_; }
  void ForgetReported() { reported_.clear(); }

 private:
  void CheckRequest(const std::uint8_t* request, std::int32_t length,
                    std::int32_t expectedLength) const;
  std::uint32_t Deliver(std::int32_t channel, std::uint8_t* reply, std::int32_t expectedLength);

  FuzzInput& input_;
  std::map<std::int32_t, std::uint32_t> errors_;
  std::map<std::int32_t, std::uint8_t> states_;
  std::map<std::int32_t, ReplyVerifier> verifiers_;
  std::map<std::int32_t, SetupHandler> setupHandlers_;
  std::map<std::int32_t, std::uint8_t> reported_;
};

}  // namespace quorlan::fuzz
