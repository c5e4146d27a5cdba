#include "SimGaugeLink.h"

#include "gauge/Port.h"

namespace quorlan::sim {

bool SimGaugeLink::Open(const gauge::LinkTimeouts&) {
  open_ = reachable_;
  inStep_ = true;
  pending_.clear();
  problem_ = open_ ? "" : "the simulated gauge is unreachable";
  return open_;
}

std::optional<std::string> SimGaugeLink::Transfer(std::string_view command,
                                                  const gauge::LinkTimeouts&) {
  if (!open_) return std::nullopt;
  if (!reachable_) {
    open_ = false;
    problem_ = "the simulated gauge went away";
    return std::nullopt;
  }
  if (!inStep_) pending_.clear();  // the silence before the command drains it
  const auto response = gauge_->Answer(
      std::span(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()));
  std::string heard;
  heard.swap(pending_);
  const std::string bytes(response.bytes.begin(), response.bytes.end());
  if (response.delivery == Response::Delivery::Now) heard += bytes;
  if (response.delivery == Response::Delivery::Late) pending_ = bytes;
  inStep_ =
      response.delivery == Response::Delivery::Now && !bytes.empty() && bytes.back() == gauge::kEtx;
  // What a reader of the line would take: up to the first ETX.
  const auto end = heard.find(gauge::kEtx);
  if (end != std::string::npos && end + 1 < heard.size()) {
    pending_ = heard.substr(end + 1) + pending_;
    heard.resize(end + 1);
    inStep_ = false;
  }
  return heard;
}

}  // namespace quorlan::sim
