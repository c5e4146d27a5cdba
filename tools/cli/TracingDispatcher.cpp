#include "TracingDispatcher.h"

#include <fmt/format.h>

#include <algorithm>

#include "Hex.h"

namespace quorlan::cli {

std::uint32_t TracingDispatcher::Exchange(std::int32_t channel, const std::uint8_t* request,
                                          std::int32_t requestLength, std::uint8_t* reply,
                                          std::int32_t expectedLength, std::int32_t reserved) {
  const auto length = static_cast<std::size_t>(std::max(requestLength, 0));
  fmt::print(out_, "c{} -> {}\n", channel, HexBytes({request, length}));
  replied_ = false;
  const auto code =
      inner_.Exchange(channel, request, requestLength, reply, expectedLength, reserved);
  if (!replied_) fmt::print(out_, "c{} <- no reply (code {:X})\n", channel, code);
  std::fflush(out_);
  return code;
}

void TracingDispatcher::SetVerifier(std::int32_t channel, ReplyVerifier verifier) {
  verifiers_[channel] = verifier;
  inner_.SetVerifier(channel, verifier ? ReplyVerifier{&OnReply, this} : verifier);
}

bool TracingDispatcher::OnReply(void* self, std::int32_t channel, const std::uint8_t* reply,
                                std::int32_t highIndex, std::int32_t received,
                                std::int32_t expected) {
  auto& tracer = *static_cast<TracingDispatcher*>(self);
  tracer.replied_ = true;
  const auto shown = static_cast<std::size_t>(std::clamp(received, 0, highIndex + 1));
  fmt::print(tracer.out_, "c{} <- {} ({} of {} bytes)\n", channel, HexBytes({reply, shown}),
             received, expected);
  return tracer.verifiers_[channel](channel, reply, highIndex, received, expected);
}

}  // namespace quorlan::cli
