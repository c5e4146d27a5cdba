#pragma once
// A scriptable port dispatcher for tests: records every call with its
// arguments, answers each exchange from a script (reply bytes, received count,
// error code, link state) and calls the registered verifier as a real
// dispatcher would. It stands for a host's dispatcher, not a transport: a
// script may break the transport base's rules (skip the verifier, report an
// error it did not give), so it keeps its own bookkeeping.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "quorlan/PortDispatcher.h"

namespace quorlan::testing {

using Bytes = std::vector<std::uint8_t>;

// Line bytes for the given info bytes: each followed by its complement.
Bytes Pairs(const Bytes& info);

struct ScriptedReply {
  Bytes reply;                         // line bytes copied into the reply buffer
  std::optional<int> received;         // default: reply.size()
  bool callVerifier = true;            // a real dispatcher checks every reply
  std::optional<std::uint32_t> error;  // default: what the verifier reported
  std::optional<std::uint8_t> state;   // default: what the verifier reported
};

struct ExchangeRecord {
  std::int32_t channel = 0;
  Bytes request;
  std::int32_t expected = 0;
  std::int32_t reserved = 0;
};

class FakeDispatcher : public TPortDispatcher {
 public:
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

  // Queues the answer to the next exchange; with an empty queue the
  // responder (if set) answers, else a good reply of the expected length
  // made of 0x00 info bytes.
  FakeDispatcher& Then(ScriptedReply reply);
  FakeDispatcher& ThenInfo(const Bytes& info) { return Then({.reply = Pairs(info)}); }
  // Answers with no reply and the given error code.
  FakeDispatcher& ThenFail(std::uint32_t error, std::uint8_t state = kLinkBad);
  std::function<ScriptedReply(const ExchangeRecord&)> responder;

  std::vector<ExchangeRecord> exchanges;
  struct ConfigureCall {
    std::int32_t channel, lineSetting, baud;
  };
  std::vector<ConfigureCall> configures;
  std::vector<std::int32_t> verifierRegistrations;
  std::vector<std::int32_t> setupRegistrations;
  std::vector<std::pair<std::int32_t, std::int32_t>> stateCalls;   // SetState
  std::vector<std::pair<std::int32_t, std::uint32_t>> errorCalls;  // SetError
  std::map<std::int32_t, ReplyVerifier> verifiers;
  std::map<std::int32_t, SetupHandler> setupHandlers;

  // Per-channel link state and error, as the driver reads them back.
  std::map<std::int32_t, std::uint8_t> states;
  std::map<std::int32_t, std::uint32_t> errors;

 private:
  std::deque<ScriptedReply> script_;
};

}  // namespace quorlan::testing
