// SPDX-License-Identifier: Apache-2.0
#include "gauge/transport/SerialGaugeLink.h"

#include <vector>

#include "gauge/FrameFinder.h"
#include "gauge/Protocol.h"

namespace quorlan::gauge {

SerialGaugeLink::SerialGaugeLink(std::string path, unsigned baud)
    : line_(std::move(path)), baud_(baud) {}

bool SerialGaugeLink::Open(const LinkTimeouts&) {
  return line_.Open(baud_);
}

std::optional<std::string> SerialGaugeLink::Transfer(std::string_view command,
                                                     const LinkTimeouts& timeouts) {
  std::vector<std::uint8_t> reply(kLongestFrame);
  const serial::LineTimeouts lineTimeouts{.reply = timeouts.reply,
                                          .interByte = timeouts.interByte,
                                          .settle = timeouts.settle,
                                          .whole = timeouts.whole};
  const auto request =
      std::span(reinterpret_cast<const std::uint8_t*>(command.data()), command.size());
  const auto heard = line_.TransferUntil(request, reply, std::uint8_t(kEtx), lineTimeouts);
  if (!heard) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(reply.data()), heard->count);
}

}  // namespace quorlan::gauge
