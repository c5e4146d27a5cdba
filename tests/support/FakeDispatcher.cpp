#include "support/FakeDispatcher.h"

#include <algorithm>

namespace quorlan::testing {

Bytes Pairs(const Bytes& info) {
  Bytes line;
  for (auto b : info) {
    line.push_back(b);
    line.push_back(static_cast<std::uint8_t>(b ^ 0xFF));
  }
  return line;
}

std::uint32_t FakeDispatcher::GetError(std::int32_t channel) {
  return errors[channel];
}

void FakeDispatcher::SetError(std::int32_t channel, std::uint32_t code) {
  errorCalls.emplace_back(channel, code);
  errors[channel] = code;
}

void FakeDispatcher::SetState(std::int32_t channel, std::int32_t state) {
  stateCalls.emplace_back(channel, state);
  states[channel] = static_cast<std::uint8_t>(state);
}

std::uint8_t FakeDispatcher::GetState(std::int32_t channel) {
  auto it = states.find(channel);
  return it == states.end() ? kLinkGood : it->second;
}

std::uint32_t FakeDispatcher::Exchange(std::int32_t channel, const std::uint8_t* request,
                                       std::int32_t requestLength, std::uint8_t* reply,
                                       std::int32_t expectedLength, std::int32_t reserved) {
  ExchangeRecord record{channel, Bytes(request, request + requestLength), expectedLength, reserved};
  exchanges.push_back(record);
  ScriptedReply answer;
  if (!script_.empty()) {
    answer = std::move(script_.front());
    script_.pop_front();
  } else if (responder) {
    answer = responder(record);
  } else {
    answer.reply = Pairs(Bytes(static_cast<std::size_t>(std::max(expectedLength, 0) / 2), 0));
  }
  const auto copied = std::min<std::size_t>(answer.reply.size(), kReplyBufferSize);
  std::copy_n(answer.reply.begin(), copied, reply);
  const int received = answer.received.value_or(static_cast<int>(copied));
  auto verifier = verifiers.find(channel);
  if (answer.callVerifier && verifier != verifiers.end() && verifier->second) {
    verifier->second(channel, reply, kReplyBufferSize - 1, received, expectedLength);
  }
  if (answer.state) states[channel] = *answer.state;
  if (answer.error) errors[channel] = *answer.error;
  return errors[channel];
}

void FakeDispatcher::Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) {
  configures.push_back({channel, lineSetting, baud});
}

void FakeDispatcher::SetVerifier(std::int32_t channel, ReplyVerifier verifier) {
  verifierRegistrations.push_back(channel);
  verifiers[channel] = verifier;
}

void FakeDispatcher::SetSetupHandler(std::int32_t channel, SetupHandler handler) {
  setupRegistrations.push_back(channel);
  setupHandlers[channel] = handler;
}

FakeDispatcher& FakeDispatcher::Then(ScriptedReply reply) {
  script_.push_back(std::move(reply));
  return *this;
}

FakeDispatcher& FakeDispatcher::ThenFail(std::uint32_t error, std::uint8_t state) {
  return Then({.reply = {}, .received = 0, .callVerifier = false, .error = error, .state = state});
}

}  // namespace quorlan::testing
