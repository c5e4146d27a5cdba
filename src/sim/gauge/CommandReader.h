#pragma once
// The simulated gauge as a stream's server sees it: a command is SOH, the
// gauge's security code if it has one, the format letter, the function and
// the tank; bytes outside a command are dropped, and an SOH starts over.

#include <memory>

#include "Gauge.h"
#include "sim/Responder.h"

namespace quorlan::sim {

class GaugeResponder : public Responder {
 public:
  explicit GaugeResponder(std::shared_ptr<Gauge> gauge);
  std::optional<Bytes> Feed(std::uint8_t byte) override;
  bool Partial() const override { return !pending_.empty(); }
  void Reset() override { pending_.clear(); }
  Response Answer(std::span<const std::uint8_t> command) override {
    return gauge_->Answer(command);
  }

 private:
  std::shared_ptr<Gauge> gauge_;
  std::size_t commandSize_;
  Bytes pending_;
};

}  // namespace quorlan::sim
