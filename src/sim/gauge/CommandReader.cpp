#include "CommandReader.h"

namespace quorlan::sim {

GaugeResponder::GaugeResponder(std::shared_ptr<Gauge> gauge)
    : gauge_(std::move(gauge)),
      commandSize_(1 + gauge_->Options().securityCode.size() + 1 + gauge::kCodeDigits +
                   gauge::kTankDigits) {}

std::optional<Bytes> GaugeResponder::Feed(std::uint8_t byte) {
  if (byte == std::uint8_t(gauge::kSoh)) {
    pending_.assign(1, byte);
    return std::nullopt;
  }
  if (pending_.empty()) return std::nullopt;
  pending_.push_back(byte);
  if (pending_.size() < commandSize_) return std::nullopt;
  Bytes command;
  command.swap(pending_);
  return command;
}

}  // namespace quorlan::sim
