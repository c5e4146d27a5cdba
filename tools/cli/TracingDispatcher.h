#pragma once
// --trace: wraps any port dispatcher and writes every request and reply as
// hex with a direction mark ("->" to the dispenser, "<-" back) to a stream.
// The reply is seen through the verifier, which alone knows how many bytes
// arrived.

#include <cstdio>
#include <map>

#include "quorlan/PortDispatcher.h"

namespace quorlan::cli {

class TracingDispatcher : public TPortDispatcher {
 public:
  TracingDispatcher(TPortDispatcher& inner, std::FILE* out) : inner_(inner), out_(out) {}

  std::uint32_t GetError(std::int32_t channel) override { return inner_.GetError(channel); }
  void SetError(std::int32_t channel, std::uint32_t code) override {
    inner_.SetError(channel, code);
  }
  void SetState(std::int32_t channel, std::int32_t state) override {
    inner_.SetState(channel, state);
  }
  std::uint8_t GetState(std::int32_t channel) override { return inner_.GetState(channel); }
  std::uint32_t Exchange(std::int32_t channel, const std::uint8_t* request,
                         std::int32_t requestLength, std::uint8_t* reply,
                         std::int32_t expectedLength, std::int32_t reserved) override;
  void Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) override {
    inner_.Configure(channel, lineSetting, baud);
  }
  void SetVerifier(std::int32_t channel, ReplyVerifier verifier) override;
  void SetSetupHandler(std::int32_t channel, SetupHandler handler) override {
    inner_.SetSetupHandler(channel, handler);
  }

 private:
  static bool OnReply(void* self, std::int32_t channel, const std::uint8_t* reply,
                      std::int32_t highIndex, std::int32_t received, std::int32_t expected);

  TPortDispatcher& inner_;
  std::FILE* out_;
  std::map<std::int32_t, ReplyVerifier> verifiers_;
  bool replied_ = false;
};

}  // namespace quorlan::cli
